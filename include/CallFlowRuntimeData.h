// SPDX-License-Identifier: MIT
#pragma once

#include "sessionconfig_export.h"

#include <CallFlowConfigurationDTO.h>
#include <IConfigurationResettable.h>
#include <RuntimeStore.h>

// The session's thread-safe holder of the call-flow configuration, and the filling
// of the placeholders that its service URLs carry.
//
// Property CallFlowConfiguration reads the whole record under one lock, so every
// field in it comes from the same moment; it cannot be written as a whole. Nothing
// of it is ever stored, and there is no clear(): the session resets it instead.
//
// Its properties, every column of each: \ref callFlow_properties.
class SESSIONCONFIG_EXPORT CallFlowRuntimeData
    : public RuntimeStore<CallFlowConfigurationDTO, CallFlowProperty>,
      public IConfigurationResettable
{
public:
    CallFlowRuntimeData();
    // A copy holds a deep copy of the record with a lock of its own, a move hands the
    // record over; neither takes a lock or carries subscribers.
    //@{
    CallFlowRuntimeData(const CallFlowRuntimeData& other);
    CallFlowRuntimeData(CallFlowRuntimeData&& other) noexcept;
    CallFlowRuntimeData& operator=(const CallFlowRuntimeData& other);
    CallFlowRuntimeData& operator=(CallFlowRuntimeData&& other) noexcept;
    //@}
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
