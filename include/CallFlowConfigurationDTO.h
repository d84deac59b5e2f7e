// SPDX-License-Identifier: MIT
#pragma once

// \file
// The call-flow record, its property enumeration CallFlowProperty and its property table
// (every column of every property: \ref callFlow_properties).

#include "sessionconfig_export.h"

#include <CallerIds.h>
#include <IEncryptedSerializable.h>
#include <PropertyTable.h>

#include <QString>

#include <tuple>
#include <utility>
// The properties of the callflow store, by number. The numbers are part of the client's interface.
enum class CallFlowProperty : int {
    CallFlowConfiguration = 0,                    // The whole call-flow record, read at once
    EnableCallFlow = 1,                           // Whether call-flow services are available
    EnableCallFlowMobile = 2,                     // Whether call-flow services reach the mobile
    EnableCallerID = 3,                           // Whether the user may choose the caller identity
    CallerId = 4,                                 // Caller identities the user may present
    EnableMimit = 5,                              // Whether MIMIT is enabled
    PBX = 6,                                      // The user's PBX
    Extension = 7,                                // The user's extension
    MSISDN = 8,                                   // The user's mobile number
    SetDefaultCallerIdURL = 9,                    // Service that sets the default caller identity
    SetWifiCallExtensionURL = 10,                 // Service that sets Wi-Fi calling of the extension
    SetWifiCallMobileURL = 11,                    // Service that sets Wi-Fi calling of the mobile
    GetWifiCallExtensionURL = 12,                 // Service that reads Wi-Fi calling of the extension
    GetWifiCallMobileURL = 13,                    // Service that reads Wi-Fi calling of the mobile
    GetCallForwardExtensionURL = 14,              // Service that reads forwarding of the extension
    GetCallForwardMobileURL = 15,                 // Service that reads forwarding of the mobile
    SetCallForwardOnBusyExtensionURL = 16,        // Service that forwards the extension when busy
    SetCallForwardOnNotAnsweredExtensionURL = 17, // Service that forwards the extension when not answered
    SetCallForwardOnUnReachableExtensionURL = 18, // Service that forwards the extension when unreachable
    SetCallForwardImmediatelyExtensionURL = 19,   // Service that forwards the extension at once
    SetCallForwardOnBusyMobileURL = 20,           // Service that forwards the mobile when busy
    SetCallForwardOnNotAnsweredMobileURL = 21,    // Service that forwards the mobile when not answered
    SetCallForwardOnUnReachableMobileURL = 22,    // Service that forwards the mobile when unreachable
    SetCallForwardImmediatelyMobileURL = 23,      // Service that forwards the mobile at once
    SetCallWaitingExtensionURL = 24,              // Service that sets call waiting of the extension
    SetCallWaitingMobileURL = 25,                 // Service that sets call waiting of the mobile
    GetVIPListURL = 26,                           // Service that reads the VIP list
    SetVIPListURL = 27,                           // Service that changes the VIP list
    SendPushToMobileURL = 28,                     // Service that sends a push message to the mobile
};

// The provisioned configuration of the call-flow services: the switches, the user's
// PBX, extension and mobile number, the service URLs through which the client reads
// and changes forwarding, call waiting, Wi-Fi calling, the VIP list and the default
// caller identity, and the identities the user may present.
//
// Each URL is a template that may carry placeholders; the record never looks inside
// it (CallFlowRuntimeData fills them in). Nothing here is kept between runs: the
// record is provisioned anew after every start, so both storage parts stay empty.
class SESSIONCONFIG_EXPORT CallFlowConfigurationDTO : public IEncryptedSerializable
{
public:
    CallFlowConfigurationDTO() = default;
    CallFlowConfigurationDTO(const CallFlowConfigurationDTO&) = default;
    CallFlowConfigurationDTO& operator=(const CallFlowConfigurationDTO&) = default;
    ~CallFlowConfigurationDTO() override;

    // Plain accessors of the record's fields: a getter returns a copy, a setter
    // replaces the value. The record has no lock of its own: its store guards it.
    //@{
    bool getEnableCallFlow() const { return m_enableCallFlow; }
    void setEnableCallFlow(bool enable) { m_enableCallFlow = enable; }
    bool getEnableCallFlowMobile() const { return m_enableCallFlowMobile; }
    void setEnableCallFlowMobile(bool enable) { m_enableCallFlowMobile = enable; }
    bool getEnableMimit() const { return m_enableMimit; }
    void setEnableMimit(bool enable) { m_enableMimit = enable; }
    bool getEnableCallerID() const { return m_enableCallerID; }
    void setEnableCallerID(bool enable) { m_enableCallerID = enable; }

    QString getPBX() const { return m_pbx; }
    void setPBX(QString pbx) { m_pbx = std::move(pbx); }
    QString getExtension() const { return m_extension; }
    void setExtension(QString extension) { m_extension = std::move(extension); }
    QString getMSISDN() const { return m_msisdn; }
    void setMSISDN(QString msisdn) { m_msisdn = std::move(msisdn); }

    // Service URL templates. The get-VIP-list setter is spelled "Url": that name is
    // part of the exported interface.
    QString getSetDefaultCallerIdURL() const { return m_setDefaultCallerIdURL; }
    void setSetDefaultCallerIdURL(QString url) { m_setDefaultCallerIdURL = std::move(url); }
    QString getSetWifiCallExtensionURL() const { return m_setWifiCallExtensionURL; }
    void setSetWifiCallExtensionURL(QString url) { m_setWifiCallExtensionURL = std::move(url); }
    QString getSetWifiCallMobileURL() const { return m_setWifiCallMobileURL; }
    void setSetWifiCallMobileURL(QString url) { m_setWifiCallMobileURL = std::move(url); }
    QString getGetWifiCallExtensionURL() const { return m_getWifiCallExtensionURL; }
    void setGetWifiCallExtensionURL(QString url) { m_getWifiCallExtensionURL = std::move(url); }
    QString getGetWifiCallMobileURL() const { return m_getWifiCallMobileURL; }
    void setGetWifiCallMobileURL(QString url) { m_getWifiCallMobileURL = std::move(url); }
    QString getGetCallForwardExtensionURL() const { return m_getCallForwardExtensionURL; }
    void setGetCallForwardExtensionURL(QString url) { m_getCallForwardExtensionURL = std::move(url); }
    QString getGetCallForwardMobileURL() const { return m_getCallForwardMobileURL; }
    void setGetCallForwardMobileURL(QString url) { m_getCallForwardMobileURL = std::move(url); }
    QString getSetCallForwardOnBusyExtensionURL() const { return m_setCallForwardOnBusyExtensionURL; }
    void setSetCallForwardOnBusyExtensionURL(QString url)
    {
        m_setCallForwardOnBusyExtensionURL = std::move(url);
    }
    QString getSetCallForwardOnNotAnsweredExtensionURL() const
    {
        return m_setCallForwardOnNotAnsweredExtensionURL;
    }
    void setSetCallForwardOnNotAnsweredExtensionURL(QString url)
    {
        m_setCallForwardOnNotAnsweredExtensionURL = std::move(url);
    }
    QString getSetCallForwardOnUnReachableExtensionURL() const
    {
        return m_setCallForwardOnUnReachableExtensionURL;
    }
    void setSetCallForwardOnUnReachableExtensionURL(QString url)
    {
        m_setCallForwardOnUnReachableExtensionURL = std::move(url);
    }
    QString getSetCallForwardImmediatelyExtensionURL() const
    {
        return m_setCallForwardImmediatelyExtensionURL;
    }
    void setSetCallForwardImmediatelyExtensionURL(QString url)
    {
        m_setCallForwardImmediatelyExtensionURL = std::move(url);
    }
    QString getSetCallForwardOnBusyMobileURL() const { return m_setCallForwardOnBusyMobileURL; }
    void setSetCallForwardOnBusyMobileURL(QString url) { m_setCallForwardOnBusyMobileURL = std::move(url); }
    QString getSetCallForwardOnNotAnsweredMobileURL() const { return m_setCallForwardOnNotAnsweredMobileURL; }
    void setSetCallForwardOnNotAnsweredMobileURL(QString url)
    {
        m_setCallForwardOnNotAnsweredMobileURL = std::move(url);
    }
    QString getSetCallForwardOnUnReachableMobileURL() const { return m_setCallForwardOnUnReachableMobileURL; }
    void setSetCallForwardOnUnReachableMobileURL(QString url)
    {
        m_setCallForwardOnUnReachableMobileURL = std::move(url);
    }
    QString getSetCallForwardImmediatelyMobileURL() const { return m_setCallForwardImmediatelyMobileURL; }
    void setSetCallForwardImmediatelyMobileURL(QString url)
    {
        m_setCallForwardImmediatelyMobileURL = std::move(url);
    }
    QString getSetCallWaitingExtensionURL() const { return m_setCallWaitingExtensionURL; }
    void setSetCallWaitingExtensionURL(QString url) { m_setCallWaitingExtensionURL = std::move(url); }
    QString getSetCallWaitingMobileURL() const { return m_setCallWaitingMobileURL; }
    void setSetCallWaitingMobileURL(QString url) { m_setCallWaitingMobileURL = std::move(url); }
    QString getGetVIPListURL() const { return m_getVIPListURL; }
    void setGetVIPListUrl(QString url) { m_getVIPListURL = std::move(url); }
    QString getSetVIPListURL() const { return m_setVIPListURL; }
    void setSetVIPListURL(QString url) { m_setVIPListURL = std::move(url); }
    QString getSendPushToMobileURL() const { return m_sendPushToMobileURL; }
    void setSendPushToMobileURL(QString url) { m_sendPushToMobileURL = std::move(url); }

    CallerIds getCallerId() const { return m_callerIds; }
    // Takes over the given list; the record's old entries are dropped.
    void setCallerId(CallerIds callerIds) { m_callerIds = std::move(callerIds); }
    //@}

    // Every field; text exact and case-sensitive (null equals empty).
    //@{
    bool operator==(const CallFlowConfigurationDTO& other) const;
    bool operator!=(const CallFlowConfigurationDTO& other) const { return !(*this == other); }
    //@}

    // Never stored: both parts are new empty sets and reading a set back changes nothing.
    DataSets::DataSet serializeEncrypted() const override;
    void deserializeEncrypted(const DataSets::DataSet& ds) override;
    DataSets::DataSet serializeUnencrypted() const override;
    void deserializeUnencrypted(const DataSets::DataSet& ds) override;

    // The record's property table, one row per CallFlowProperty: what each property reads, where it is
    // stored and under which key, what a reset does (the descriptors: PropertyTable.h).
    static constexpr auto properties();

private:
    bool m_enableCallFlow = false;
    bool m_enableCallFlowMobile = false;
    bool m_enableMimit = false;
    bool m_enableCallerID = false;
    QString m_pbx;
    QString m_extension;
    QString m_msisdn;
    QString m_setDefaultCallerIdURL;
    QString m_setWifiCallExtensionURL;
    QString m_setWifiCallMobileURL;
    QString m_getWifiCallExtensionURL;
    QString m_getWifiCallMobileURL;
    QString m_getCallForwardExtensionURL;
    QString m_getCallForwardMobileURL;
    QString m_setCallForwardOnBusyExtensionURL;
    QString m_setCallForwardOnNotAnsweredExtensionURL;
    QString m_setCallForwardOnUnReachableExtensionURL;
    QString m_setCallForwardImmediatelyExtensionURL;
    QString m_setCallForwardOnBusyMobileURL;
    QString m_setCallForwardOnNotAnsweredMobileURL;
    QString m_setCallForwardOnUnReachableMobileURL;
    QString m_setCallForwardImmediatelyMobileURL;
    QString m_setCallWaitingExtensionURL;
    QString m_setCallWaitingMobileURL;
    QString m_getVIPListURL;
    QString m_setVIPListURL;
    QString m_sendPushToMobileURL;
    CallerIds m_callerIds;
};

constexpr auto CallFlowConfigurationDTO::properties()
{
    using SessionConfigDetail::field;
    using SessionConfigDetail::wholeRecord;
    using R = CallFlowConfigurationDTO;
    return std::make_tuple(
        wholeRecord<CallFlowProperty::CallFlowConfiguration, R>().runOnly(),
        field<CallFlowProperty::EnableCallFlow, bool>(&R::m_enableCallFlow).runOnly().dropOnReset(),
        field<CallFlowProperty::EnableCallFlowMobile, bool>(&R::m_enableCallFlowMobile).runOnly(),
        field<CallFlowProperty::EnableCallerID, bool>(&R::m_enableCallerID).runOnly().dropOnReset(),
        field<CallFlowProperty::CallerId, CallerIds>(&R::m_callerIds).runOnly().dropOnReset(),
        field<CallFlowProperty::EnableMimit, bool>(&R::m_enableMimit).runOnly(),
        field<CallFlowProperty::PBX, QString>(&R::m_pbx).runOnly().dropOnReset(),
        field<CallFlowProperty::Extension, QString>(&R::m_extension).runOnly().dropOnReset(),
        field<CallFlowProperty::MSISDN, QString>(&R::m_msisdn).runOnly().dropOnReset(),
        field<CallFlowProperty::SetDefaultCallerIdURL, QString>(&R::m_setDefaultCallerIdURL)
            .runOnly()
            .dropOnReset(),
        field<CallFlowProperty::SetWifiCallExtensionURL, QString>(&R::m_setWifiCallExtensionURL)
            .runOnly()
            .dropOnReset(),
        field<CallFlowProperty::SetWifiCallMobileURL, QString>(&R::m_setWifiCallMobileURL)
            .runOnly()
            .dropOnReset(),
        field<CallFlowProperty::GetWifiCallExtensionURL, QString>(&R::m_getWifiCallExtensionURL)
            .runOnly()
            .dropOnReset(),
        field<CallFlowProperty::GetWifiCallMobileURL, QString>(&R::m_getWifiCallMobileURL)
            .runOnly()
            .dropOnReset(),
        field<CallFlowProperty::GetCallForwardExtensionURL, QString>(&R::m_getCallForwardExtensionURL)
            .runOnly()
            .dropOnReset(),
        field<CallFlowProperty::GetCallForwardMobileURL, QString>(&R::m_getCallForwardMobileURL)
            .runOnly()
            .dropOnReset(),
        field<CallFlowProperty::SetCallForwardOnBusyExtensionURL, QString>(
            &R::m_setCallForwardOnBusyExtensionURL)
            .runOnly()
            .dropOnReset(),
        field<CallFlowProperty::SetCallForwardOnNotAnsweredExtensionURL, QString>(
            &R::m_setCallForwardOnNotAnsweredExtensionURL)
            .runOnly()
            .dropOnReset(),
        field<CallFlowProperty::SetCallForwardOnUnReachableExtensionURL, QString>(
            &R::m_setCallForwardOnUnReachableExtensionURL)
            .runOnly()
            .dropOnReset(),
        field<CallFlowProperty::SetCallForwardImmediatelyExtensionURL, QString>(
            &R::m_setCallForwardImmediatelyExtensionURL)
            .runOnly()
            .dropOnReset(),
        field<CallFlowProperty::SetCallForwardOnBusyMobileURL, QString>(&R::m_setCallForwardOnBusyMobileURL)
            .runOnly()
            .dropOnReset(),
        field<CallFlowProperty::SetCallForwardOnNotAnsweredMobileURL, QString>(
            &R::m_setCallForwardOnNotAnsweredMobileURL)
            .runOnly()
            .dropOnReset(),
        field<CallFlowProperty::SetCallForwardOnUnReachableMobileURL, QString>(
            &R::m_setCallForwardOnUnReachableMobileURL)
            .runOnly()
            .dropOnReset(),
        field<CallFlowProperty::SetCallForwardImmediatelyMobileURL, QString>(
            &R::m_setCallForwardImmediatelyMobileURL)
            .runOnly()
            .dropOnReset(),
        field<CallFlowProperty::SetCallWaitingExtensionURL, QString>(&R::m_setCallWaitingExtensionURL)
            .runOnly()
            .dropOnReset(),
        field<CallFlowProperty::SetCallWaitingMobileURL, QString>(&R::m_setCallWaitingMobileURL)
            .runOnly()
            .dropOnReset(),
        field<CallFlowProperty::GetVIPListURL, QString>(&R::m_getVIPListURL).runOnly().dropOnReset(),
        field<CallFlowProperty::SetVIPListURL, QString>(&R::m_setVIPListURL).runOnly().dropOnReset(),
        field<CallFlowProperty::SendPushToMobileURL, QString>(&R::m_sendPushToMobileURL).runOnly());
}

template <> struct SessionConfigDetail::RecordOf<CallFlowProperty>
{
    using type = CallFlowConfigurationDTO;
};
