// A client of the installed package: stores a desk setting and reads it back, and
// hears of the change it makes.
#include <ChangeSubscription.h>
#include <DataSets.h>
#include <DeskRuntimeData.h>
#include <Endpoints.h>

#include <cstdio>

int main()
{
    DeskRuntimeData desk;
    int told = 0;
    ChangeSubscription sub = desk.subscribe([&told](DeskProperty p) { told += p == DeskProperty::Enabled; });
    desk.setData<bool, DeskProperty::Enabled>(true);
    sub.cancel();
    desk.setData<unsigned short, DeskProperty::Port>(65535);

    DeskRuntimeData restored;
    restored.deserializeEncrypted(desk.serializeEncrypted());

    const Endpoints directory{
        EndpointData(ResourcesDefs::RemoteType::Production, QStringLiteral("https://ws"), {}, {}, {}, {})};
    const bool ok = told == 1 && restored.getData<bool, DeskProperty::Enabled>() &&
                    restored.getData<unsigned short, DeskProperty::Port>() == 0 &&
                    directory.getProductionEndpoint().isProduction() &&
                    propertyName(DeskProperty::SIPDebugEnabled) == std::string_view("SIPDebugEnabled");
    std::printf("consumer %s\n", ok ? "ok" : "FAILED");
    return ok ? 0 : 1;
}
