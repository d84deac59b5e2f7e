// SPDX-License-Identifier: MIT
#pragma once

#include "sessionconfig_export.h"

#include <CallFlowConfigurationDTO.h>
#include <RuntimeStore.h>

// The columns are explained in PropertyTable.h.
#define SESSIONCONFIG_CALLFLOW_PROPERTIES(ROW, X)                                                            \
    ROW(X, CallFlowConfiguration, 0, CallFlowConfigurationDTO, WHOLE, record, NONE, "", KEEP, NOEQ, Plain)   \
    ROW(X, EnableCallFlow, 1, bool, FIELD, m_enableCallFlow, NONE, "", DROP, EQ, Plain)                      \
    ROW(X, EnableCallFlowMobile, 2, bool, FIELD, m_enableCallFlowMobile, NONE, "", KEEP, EQ, Plain)          \
    ROW(X, EnableCallerID, 3, bool, FIELD, m_enableCallerID, NONE, "", DROP, EQ, Plain)                      \
    ROW(X, CallerId, 4, CallerIds, FIELD, m_callerIds, NONE, "", DROP, EQ, Plain)                            \
    ROW(X, EnableMimit, 5, bool, FIELD, m_enableMimit, NONE, "", KEEP, EQ, Plain)                            \
    ROW(X, PBX, 6, QString, FIELD, m_pbx, NONE, "", DROP, EQ, Plain)                                         \
    ROW(X, Extension, 7, QString, FIELD, m_extension, NONE, "", DROP, EQ, Plain)                             \
    ROW(X, MSISDN, 8, QString, FIELD, m_msisdn, NONE, "", DROP, EQ, Plain)                                   \
    ROW(X, SetDefaultCallerIdURL, 9, QString, FIELD, m_setDefaultCallerIdURL, NONE, "", DROP, EQ, Plain)     \
    ROW(X, SetWifiCallExtensionURL, 10, QString, FIELD, m_setWifiCallExtensionURL, NONE, "", DROP, EQ,       \
        Plain)                                                                                               \
    ROW(X, SetWifiCallMobileURL, 11, QString, FIELD, m_setWifiCallMobileURL, NONE, "", DROP, EQ, Plain)      \
    ROW(X, GetWifiCallExtensionURL, 12, QString, FIELD, m_getWifiCallExtensionURL, NONE, "", DROP, EQ,       \
        Plain)                                                                                               \
    ROW(X, GetWifiCallMobileURL, 13, QString, FIELD, m_getWifiCallMobileURL, NONE, "", DROP, EQ, Plain)      \
    ROW(X, GetCallForwardExtensionURL, 14, QString, FIELD, m_getCallForwardExtensionURL, NONE, "", DROP, EQ, \
        Plain)                                                                                               \
    ROW(X, GetCallForwardMobileURL, 15, QString, FIELD, m_getCallForwardMobileURL, NONE, "", DROP, EQ,       \
        Plain)                                                                                               \
    ROW(X, SetCallForwardOnBusyExtensionURL, 16, QString, FIELD, m_setCallForwardOnBusyExtensionURL, NONE,   \
        "", DROP, EQ, Plain)                                                                                 \
    ROW(X, SetCallForwardOnNotAnsweredExtensionURL, 17, QString, FIELD,                                      \
        m_setCallForwardOnNotAnsweredExtensionURL, NONE, "", DROP, EQ, Plain)                                \
    ROW(X, SetCallForwardOnUnReachableExtensionURL, 18, QString, FIELD,                                      \
        m_setCallForwardOnUnReachableExtensionURL, NONE, "", DROP, EQ, Plain)                                \
    ROW(X, SetCallForwardImmediatelyExtensionURL, 19, QString, FIELD,                                        \
        m_setCallForwardImmediatelyExtensionURL, NONE, "", DROP, EQ, Plain)                                  \
    ROW(X, SetCallForwardOnBusyMobileURL, 20, QString, FIELD, m_setCallForwardOnBusyMobileURL, NONE, "",     \
        DROP, EQ, Plain)                                                                                     \
    ROW(X, SetCallForwardOnNotAnsweredMobileURL, 21, QString, FIELD, m_setCallForwardOnNotAnsweredMobileURL, \
        NONE, "", DROP, EQ, Plain)                                                                           \
    ROW(X, SetCallForwardOnUnReachableMobileURL, 22, QString, FIELD, m_setCallForwardOnUnReachableMobileURL, \
        NONE, "", DROP, EQ, Plain)                                                                           \
    ROW(X, SetCallForwardImmediatelyMobileURL, 23, QString, FIELD, m_setCallForwardImmediatelyMobileURL,     \
        NONE, "", DROP, EQ, Plain)                                                                           \
    ROW(X, SetCallWaitingExtensionURL, 24, QString, FIELD, m_setCallWaitingExtensionURL, NONE, "", DROP, EQ, \
        Plain)                                                                                               \
    ROW(X, SetCallWaitingMobileURL, 25, QString, FIELD, m_setCallWaitingMobileURL, NONE, "", DROP, EQ,       \
        Plain)                                                                                               \
    ROW(X, GetVIPListURL, 26, QString, FIELD, m_getVIPListURL, NONE, "", DROP, EQ, Plain)                    \
    ROW(X, SetVIPListURL, 27, QString, FIELD, m_setVIPListURL, NONE, "", DROP, EQ, Plain)                    \
    ROW(X, SendPushToMobileURL, 28, QString, FIELD, m_sendPushToMobileURL, NONE, "", KEEP, EQ, Plain)

SESSIONCONFIG_PROPERTY_ENUM(CallFlowProperty, SESSIONCONFIG_CALLFLOW_PROPERTIES)

// The session's thread-safe holder of the call-flow configuration, and the filling
// of the placeholders that its service URLs carry.
//
// Property CallFlowConfiguration reads the whole record under one lock, so every
// field in it comes from the same moment; it cannot be written as a whole. Nothing
// of it is ever stored, and there is no clear(): the session resets it instead.
class SESSIONCONFIG_EXPORT CallFlowRuntimeData : public IConfigurationResettable,
                                                 public IEncryptedSerializable
{
    SESSIONCONFIG_RUNTIME_STORE(CallFlowConfigurationDTO, CallFlowProperty)

public:
    CallFlowRuntimeData();
    SESSIONCONFIG_COPYABLE_STORE(CallFlowRuntimeData)
    ~CallFlowRuntimeData() override;

    // Drops the provisioned call-flow values: enable call flow and enable caller ID
    // become false, PBX, extension, MSISDN and every URL but send-push-to-mobile
    // become null, and the caller identities are emptied. Enable call flow on the
    // mobile, enable MIMIT and the send-push-to-mobile URL keep their values.
    void resetData() override;

    // Placeholder filling. Every occurrence is replaced, left to right, exactly as
    // written (case-sensitive); values go in verbatim, with no encoding or trimming,
    // and the inserted text is not scanned again by the same replacement. An empty
    // value removes the placeholder. Both work on the caller's string only: no lock.

    // Every "%NEWVALUE%" becomes `value`.
    static void defineNewValueURLPlaceHolder(QString& url, QString value);
    // "%INCOMINGDESKTOP%" becomes `desktop`, then "%INCOMINGMOBILE%" becomes
    // `mobile`, then, only when `landline` is not empty, "%INCOMINGLANDLINE%"
    // becomes `landline`. Each step works on the result of the one before, so
    // placeholders inside an earlier value are filled by the later steps.
    static void defineIncomingOnURLPlaceHolder(QString& url, const QString& desktop, const QString& mobile,
                                               const QString& landline);
};

SESSIONCONFIG_STORE_PROPERTIES(CallFlowRuntimeData, CallFlowProperty, SESSIONCONFIG_CALLFLOW_PROPERTIES)
