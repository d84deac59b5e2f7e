// SPDX-License-Identifier: MIT
// Encoding and decoding of a fully provisioned session's two stored sets, in both
// stored forms. Each iteration handles the pair: the encrypted and the plain set.

#include <DataSetCodec.h>

#include <benchmark/benchmark.h>

#include <array>

using DataSets::DataSet;
using DataSets::DataSetCodec;
using DataSets::Impl::createDS;
using DataSets::Impl::setDataValue;

namespace {

QString text(const char* s)
{
    return QString::fromUtf8(s);
}

DataSet nestedUnder(const DataSet& top, const char* key)
{
    const DataSet nested = createDS(false);
    setDataValue(*top, text(key), nested);
    return nested;
}

DataSet encryptedSet()
{
    const DataSet top = createDS(false);
    nestedUnder(top, "app");
    const DataSet chat = nestedUnder(top, "chat");
    setDataValue(*chat, text("jid"), text("u4711@chat.example.net"));
    setDataValue(*chat, text("chatEnabled"), true);
    const DataSet phone = nestedUnder(top, "phone");
    setDataValue(*phone, text("phoneLicense"), 3);
    const DataSet user = nestedUnder(top, "user");
    setDataValue(*user, text("user"), text("jane.doe@example.net"));
    setDataValue(*user, text("appKey"), text("f3b1c2d4-9a7e-4c1b-8d2f-0e6a5b4c3d21"));
    setDataValue(*user, text("wid"), text("W-000482913"));
    setDataValue(*user, text("avatar"), text("https://cdn.example.net/avatars/000482913/medium.png"));
    setDataValue(*user, text("firstName"), text("Jane"));
    setDataValue(*user, text("lastName"), text("Doe-M\u00fcller"));
    setDataValue(*user, text("meetingRoom"), text("https://meet.example.net/r/jane.doe"));
    setDataValue(*user, text("department"), text("Customer Care"));
    setDataValue(*user, text("uuid"), text("6c1e2b7a-5d44-4f0e-9b1a-3e2d7c8f9a10"));
    const DataSet desk = nestedUnder(top, "desk");
    setDataValue(*desk, text("enabled"), true);
    return top;
}

DataSet plainSet()
{
    const DataSet top = createDS(false);
    const DataSet app = nestedUnder(top, "app");
    const DataSet optOut = createDS(true);
    static const std::array<const char*, 10> messages = {
        "welcome",        "whatsNew-5.2", "meetingTips",    "callForwardHint", "vipListIntro",
        "wifiCallingOff", "desktopTour",  "chatBetaNotice", "ringToneHint",    "outlookImportOffer"};
    for (size_t i = 0; i < messages.size(); ++i)
        setDataValue(*optOut, QString::number(i), text(messages[i]));
    setDataValue(*app, text("optOutMessages"), optOut);
    setDataValue(*app, text("version"), text("5.2.14.3301"));
    setDataValue(*app, text("meetingURL"), text("https://meet.example.net/r/jane.doe"));
    setDataValue(*app, text("outlookImport"), true);
    const DataSet userSettings = createDS(false);
    setDataValue(*userSettings, text("theme"), text("dark"));
    setDataValue(*userSettings, text("language"), text("de-DE"));
    setDataValue(*userSettings, text("startMinimized"), false);
    setDataValue(*userSettings, text("zoomPercent"), 110);
    setDataValue(*app, text("userSettings"), userSettings);
    const DataSet chat = nestedUnder(top, "chat");
    setDataValue(*chat, text("chatLastSynch"), text("2024-06-11T08:15:42.123Z"));
    const DataSet phone = nestedUnder(top, "phone");
    setDataValue(*phone, text("audioInputDevice"), text("Headset Microphone (USB Audio)"));
    setDataValue(*phone, text("audioOutputDevice"), text("Headset Earphone (USB Audio)"));
    setDataValue(*phone, text("currentMode"), 2);
    setDataValue(*phone, text("lastLandlinePhone"), text("+4930123456789"));
    setDataValue(*phone, text("sipAccount"), text("sip:4711@voice.example.net"));
    setDataValue(*phone, text("callback"), false);
    setDataValue(*phone, text("ringToneVolume"), 80);
    setDataValue(*phone, text("ringToneDevice"), text("Speakers (Realtek Audio)"));
    setDataValue(*phone, text("unseenMissedCalls"), 4);
    setDataValue(*phone, text("lastPhoneBookSync"), text("2024-06-11T08:14:03.907Z"));
    nestedUnder(top, "user");
    nestedUnder(top, "desk");
    return top;
}

const std::array<DataSet, 2>& session()
{
    static const std::array<DataSet, 2> sets = {encryptedSet(), plainSet()};
    return sets;
}

template <class Encode> void encodeBench(benchmark::State& state, Encode encode)
{
    int64_t bytes = 0;
    for (auto _ : state) {
        bytes = 0;
        for (const DataSet& ds : session()) {
            DataSetCodec::EncodeResult r = encode(ds);
            bytes += r.bytes.size();
            benchmark::DoNotOptimize(r);
        }
    }
    state.SetBytesProcessed(state.iterations() * bytes);
    state.counters["pairBytes"] = static_cast<double>(bytes);
}

template <class Encode, class Decode> void decodeBench(benchmark::State& state, Encode encode, Decode decode)
{
    std::array<QByteArray, 2> stored;
    int64_t bytes = 0;
    for (size_t i = 0; i < stored.size(); ++i) {
        stored[i] = encode(session()[i]).bytes;
        bytes += stored[i].size();
    }
    for (auto _ : state) {
        for (const QByteArray& in : stored) {
            DataSetCodec::DecodeResult r = decode(in, DataSetCodec::Limits());
            if (!r.ok()) {
                state.SkipWithError("decode failed");
                return;
            }
            benchmark::DoNotOptimize(r);
        }
    }
    state.SetBytesProcessed(state.iterations() * bytes);
    state.counters["pairBytes"] = static_cast<double>(bytes);
}

auto jsonIndented = [](const DataSet& ds) { return DataSetCodec::toJson(ds); };
auto jsonCompact = [](const DataSet& ds) { return DataSetCodec::toJson(ds, QJsonDocument::Compact); };
auto cbor = [](const DataSet& ds) { return DataSetCodec::toCbor(ds); };

void BM_EncodeJsonIndented(benchmark::State& state)
{
    encodeBench(state, jsonIndented);
}
void BM_EncodeJsonCompact(benchmark::State& state)
{
    encodeBench(state, jsonCompact);
}
void BM_EncodeCbor(benchmark::State& state)
{
    encodeBench(state, cbor);
}
void BM_DecodeJsonIndented(benchmark::State& state)
{
    decodeBench(state, jsonIndented, &DataSetCodec::fromJson);
}
void BM_DecodeJsonCompact(benchmark::State& state)
{
    decodeBench(state, jsonCompact, &DataSetCodec::fromJson);
}
void BM_DecodeCbor(benchmark::State& state)
{
    decodeBench(state, cbor, &DataSetCodec::fromCbor);
}

} // namespace

BENCHMARK(BM_EncodeJsonIndented);
BENCHMARK(BM_EncodeJsonCompact);
BENCHMARK(BM_EncodeCbor);
BENCHMARK(BM_DecodeJsonIndented);
BENCHMARK(BM_DecodeJsonCompact);
BENCHMARK(BM_DecodeCbor);
