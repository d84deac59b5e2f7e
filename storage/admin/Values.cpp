// SPDX-License-Identifier: MIT
#include "Values.h"

#include "Failure.h"

namespace sessionctl {

namespace {

bool hasLoneSurrogate(const QString& text)
{
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text[i];
        if (c.isHighSurrogate() && i + 1 < text.size() && text[i + 1].isLowSurrogate())
            ++i;
        else if (c.isSurrogate())
            return true;
    }
    return false;
}

// `v` with every member naming a password or a token hidden, or nothing when no
// member below it does. Objects without a secret are shared, not copied, and a
// rebuilt object is filled in key order, so hiding stays linear in the entries.
std::optional<QJsonValue> hidden(const QJsonValue& v)
{
    if (v.isArray()) {
        const QJsonArray array = v.toArray();
        std::optional<QJsonArray> out;
        for (qsizetype i = 0; i < array.size(); ++i) {
            const std::optional<QJsonValue> item = hidden(array[i]);
            if (item && !out) {
                out = QJsonArray();
                for (qsizetype before = 0; before < i; ++before)
                    out->append(array[before]);
            }
            if (out)
                out->append(item.value_or(array[i]));
        }
        return out ? std::optional<QJsonValue>(*out) : std::nullopt;
    }
    if (!v.isObject())
        return std::nullopt;
    const QJsonObject object = v.toObject();
    std::optional<QJsonObject> out;
    for (auto it = object.constBegin(); it != object.constEnd(); ++it) {
        std::optional<QJsonValue> member =
            looksSecret(it.key()) ? QJsonValue(QStringLiteral("(hidden)")) : hidden(it.value());
        if (member && !out) {
            out = QJsonObject();
            for (auto before = object.constBegin(); before != it; ++before)
                out->insert(before.key(), before.value());
        }
        if (out)
            out->insert(it.key(), member ? *member : it.value());
    }
    return out ? std::optional<QJsonValue>(*out) : std::nullopt;
}

} // namespace

std::optional<profile::Fault> loneSurrogate(const QJsonValue& v)
{
    const auto fault = [](const QString& at) {
        return profile::Fault{at, QStringLiteral("text with a lone surrogate (half of a UTF-16 pair) cannot "
                                                 "be stored")};
    };
    if (v.isString())
        return hasLoneSurrogate(v.toString()) ? std::optional(fault(QString())) : std::nullopt;
    if (v.isArray()) {
        const QJsonArray array = v.toArray();
        for (qsizetype i = 0; i < array.size(); ++i)
            if (auto inner = loneSurrogate(array[i]))
                return profile::inside(QStringLiteral("[%1]").arg(i), inner);
    }
    if (v.isObject()) {
        const QJsonObject object = v.toObject();
        for (auto it = object.constBegin(); it != object.constEnd(); ++it) {
            if (hasLoneSurrogate(it.key()))
                return fault(QString());
            if (auto inner = loneSurrogate(it.value()))
                return profile::inside(QLatin1Char('.') + it.key(), inner);
        }
    }
    return std::nullopt;
}

QJsonValue typedJson(Typed typed, const QString& text, std::optional<profile::Fault>& fault)
{
    switch (typed) {
    case Typed::Text:
        return text;
    case Typed::Flag:
        if (text == QLatin1String("true") || text == QLatin1String("false"))
            return text == QLatin1String("true");
        return text;
    case Typed::Optional:
        if (text == QLatin1String("null"))
            return QJsonValue(QJsonValue::Null);
        [[fallthrough]];
    case Typed::Whole:
    case Typed::Choice: {
        // Decimal digits read exactly; from 2^53 on they stay text, which only the
        // 64-bit reader takes (anything narrower is out of range there anyway).
        bool whole = false;
        const long long n = text.toLongLong(&whole, 10);
        if (whole)
            return n > -(1LL << 53) && n < (1LL << 53) ? QJsonValue(static_cast<double>(n))
                                                       : QJsonValue(text);
        bool number = false;
        const double d = text.toDouble(&number);
        return number && typed != Typed::Choice ? QJsonValue(d) : QJsonValue(text);
    }
    case Typed::Json:
        break;
    }
    // A scalar is read inside an array: a JSON document is an array or an object.
    QJsonParseError error;
    const QJsonDocument doc = QJsonDocument::fromJson('[' + text.toUtf8() + ']', &error);
    if (error.error == QJsonParseError::NoError && doc.array().size() == 1)
        return doc.array().first();
    fault =
        profile::Fault{QString(), QStringLiteral("expected JSON (a list [\"a\", \"b\"] or an object {...}), "
                                                 "found %1")
                                      .arg(profile::describe(text))};
    return {};
}

QString typedText(const QJsonValue& v)
{
    if (v.isString())
        return v.toString();
    return QString::fromUtf8(QJsonDocument(QJsonArray{v}).toJson(QJsonDocument::Compact).chopped(1).mid(1));
}

bool looksSecret(const QString& name)
{
    return name.contains(QLatin1String("password"), Qt::CaseInsensitive) ||
           name.contains(QLatin1String("token"), Qt::CaseInsensitive);
}

QJsonValue dataSetJson(const DataSets::DataSet& ds)
{
    if (!ds)
        return QJsonValue(QJsonValue::Null);
    const auto encoded = DataSets::DataSetCodec::toJson(ds, QJsonDocument::Compact);
    if (!encoded.ok())
        throw Failure{ExitBadStoredFile,
                      QStringLiteral("a held data set cannot be shown: %1").arg(encoded.error.toString())};
    const QJsonDocument doc = QJsonDocument::fromJson(encoded.bytes);
    const QJsonValue json = doc.isArray() ? QJsonValue(doc.array()) : QJsonValue(doc.object());
    return hidden(json).value_or(json);
}

} // namespace sessionctl
