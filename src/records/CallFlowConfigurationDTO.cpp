#include <CallFlowConfigurationDTO.h>

CallFlowConfigurationDTO::~CallFlowConfigurationDTO() = default;

bool CallFlowConfigurationDTO::operator==(const CallFlowConfigurationDTO& other) const
{
    // The cheap switches and the identifying numbers first, so that records of
    // different users part early.
    return m_enableCallFlow == other.m_enableCallFlow &&
           m_enableCallFlowMobile == other.m_enableCallFlowMobile &&
           m_enableCallerID == other.m_enableCallerID && m_pbx == other.m_pbx &&
           m_extension == other.m_extension && m_msisdn == other.m_msisdn &&
           m_callerIds == other.m_callerIds && m_setDefaultCallerIdURL == other.m_setDefaultCallerIdURL &&
           m_enableMimit == other.m_enableMimit &&
           m_setWifiCallExtensionURL == other.m_setWifiCallExtensionURL &&
           m_setWifiCallMobileURL == other.m_setWifiCallMobileURL &&
           m_getWifiCallExtensionURL == other.m_getWifiCallExtensionURL &&
           m_getWifiCallMobileURL == other.m_getWifiCallMobileURL &&
           m_getCallForwardExtensionURL == other.m_getCallForwardExtensionURL &&
           m_getCallForwardMobileURL == other.m_getCallForwardMobileURL &&
           m_setCallForwardOnBusyExtensionURL == other.m_setCallForwardOnBusyExtensionURL &&
           m_setCallForwardOnNotAnsweredExtensionURL == other.m_setCallForwardOnNotAnsweredExtensionURL &&
           m_setCallForwardOnUnReachableExtensionURL == other.m_setCallForwardOnUnReachableExtensionURL &&
           m_setCallForwardImmediatelyExtensionURL == other.m_setCallForwardImmediatelyExtensionURL &&
           m_setCallForwardOnBusyMobileURL == other.m_setCallForwardOnBusyMobileURL &&
           m_setCallForwardOnNotAnsweredMobileURL == other.m_setCallForwardOnNotAnsweredMobileURL &&
           m_setCallForwardOnUnReachableMobileURL == other.m_setCallForwardOnUnReachableMobileURL &&
           m_setCallForwardImmediatelyMobileURL == other.m_setCallForwardImmediatelyMobileURL &&
           m_setCallWaitingExtensionURL == other.m_setCallWaitingExtensionURL &&
           m_setCallWaitingMobileURL == other.m_setCallWaitingMobileURL &&
           m_getVIPListURL == other.m_getVIPListURL && m_setVIPListURL == other.m_setVIPListURL &&
           m_sendPushToMobileURL == other.m_sendPushToMobileURL;
}

// The call-flow configuration is provisioned after every start, never restored, so
// it writes nothing and reads nothing back.
DataSets::DataSet CallFlowConfigurationDTO::serializeEncrypted() const
{
    return DataSets::Impl::createDS(false);
}

void CallFlowConfigurationDTO::deserializeEncrypted(const DataSets::DataSet&) {}

DataSets::DataSet CallFlowConfigurationDTO::serializeUnencrypted() const
{
    return DataSets::Impl::createDS(false);
}

void CallFlowConfigurationDTO::deserializeUnencrypted(const DataSets::DataSet&) {}
