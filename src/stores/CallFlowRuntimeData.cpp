#include <CallFlowRuntimeData.h>

#include "../contract/StoreProperties.h"

namespace {
const QString kNewValue = QStringLiteral("%NEWVALUE%");
const QString kIncomingDesktop = QStringLiteral("%INCOMINGDESKTOP%");
const QString kIncomingMobile = QStringLiteral("%INCOMINGMOBILE%");
const QString kIncomingLandline = QStringLiteral("%INCOMINGLANDLINE%");
} // namespace

CallFlowRuntimeData::CallFlowRuntimeData() = default;
SESSIONCONFIG_DEFINE_COPY_AND_MOVE(CallFlowRuntimeData)
CallFlowRuntimeData::~CallFlowRuntimeData() = default;

CALLFLOW_PROPERTIES(SESSIONCONFIG_DEFINE_ROW, CallFlowRuntimeData)
SESSIONCONFIG_DEFINE_STORAGE(CallFlowRuntimeData)

void CallFlowRuntimeData::resetData()
{
    m_record.write([](CallFlowConfigurationDTO& r) {
        r.m_enableCallFlow = false;
        r.m_enableCallerID = false;

        r.m_pbx = QString();
        r.m_extension = QString();
        r.m_msisdn = QString();
        r.m_setDefaultCallerIdURL = QString();
        r.m_setWifiCallExtensionURL = QString();
        r.m_setWifiCallMobileURL = QString();
        r.m_getWifiCallExtensionURL = QString();
        r.m_getWifiCallMobileURL = QString();
        r.m_getCallForwardExtensionURL = QString();
        r.m_getCallForwardMobileURL = QString();
        r.m_setCallForwardOnBusyExtensionURL = QString();
        r.m_setCallForwardOnNotAnsweredExtensionURL = QString();
        r.m_setCallForwardOnUnReachableExtensionURL = QString();
        r.m_setCallForwardImmediatelyExtensionURL = QString();
        r.m_setCallForwardOnBusyMobileURL = QString();
        r.m_setCallForwardOnNotAnsweredMobileURL = QString();
        r.m_setCallForwardOnUnReachableMobileURL = QString();
        r.m_setCallForwardImmediatelyMobileURL = QString();
        r.m_setCallWaitingExtensionURL = QString();
        r.m_setCallWaitingMobileURL = QString();
        r.m_setVIPListURL = QString();
        r.m_getVIPListURL = QString();

        r.m_callerIds.reset();
        // Enable call flow on the mobile, enable MIMIT and the send-push-to-mobile
        // URL are deliberately left as they are.
    });
}

void CallFlowRuntimeData::defineNewValueURLPlaceHolder(QString& url, QString value)
{
    url.replace(kNewValue, value, Qt::CaseSensitive);
}

void CallFlowRuntimeData::defineIncomingOnURLPlaceHolder(QString& url, const QString& desktop,
                                                         const QString& mobile, const QString& landline)
{
    url.replace(kIncomingDesktop, desktop, Qt::CaseSensitive);
    url.replace(kIncomingMobile, mobile, Qt::CaseSensitive);
    // A landline is optional: without one its placeholder is left in the URL.
    if (!landline.isEmpty())
        url.replace(kIncomingLandline, landline, Qt::CaseSensitive);
}
