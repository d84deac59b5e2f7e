// SPDX-License-Identifier: MIT
#include <CallFlowRuntimeData.h>

#include "../contract/StoreProperties.h"

namespace {
const QString kNewValue = QStringLiteral("%NEWVALUE%");
const QString kIncomingDesktop = QStringLiteral("%INCOMINGDESKTOP%");
const QString kIncomingMobile = QStringLiteral("%INCOMINGMOBILE%");
const QString kIncomingLandline = QStringLiteral("%INCOMINGLANDLINE%");
} // namespace

CallFlowRuntimeData::CallFlowRuntimeData() = default;
CallFlowRuntimeData::CallFlowRuntimeData(const CallFlowRuntimeData&) = default;
CallFlowRuntimeData::CallFlowRuntimeData(CallFlowRuntimeData&&) noexcept = default;
CallFlowRuntimeData& CallFlowRuntimeData::operator=(const CallFlowRuntimeData&) = default;
CallFlowRuntimeData& CallFlowRuntimeData::operator=(CallFlowRuntimeData&&) noexcept = default;
CallFlowRuntimeData::~CallFlowRuntimeData() = default;

// The rows marked DROP go back to their defaults.
void CallFlowRuntimeData::resetData()
{
    m_record.write([](RecordType& record) {
        const RecordType fresh;
        StoreRows::reset(record, fresh);
    });
}

// The value is taken by value as the client calls it; a QString copy is one reference count.
void CallFlowRuntimeData::defineNewValueURLPlaceHolder(
    QString& url, QString value) // NOLINT(performance-unnecessary-value-param)
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
