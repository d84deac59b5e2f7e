// A client of the installed package: stores a desk setting and reads it back.
#include <DataSets.h>
#include <DeskRuntimeData.h>
#include <Endpoints.h>

#include <cstdio>

int main()
{
    DeskRuntimeData desk;
    desk.setData<bool, DeskProperty::Enabled>(true);
    desk.setData<unsigned short, DeskProperty::Port>(65535);

    DeskRuntimeData restored;
    restored.deserializeEncrypted(desk.serializeEncrypted());

    const Endpoints directory{
        EndpointData(ResourcesDefs::RemoteType::Production, QStringLiteral("https://ws"), {}, {}, {}, {})};
    const bool ok = restored.getData<bool, DeskProperty::Enabled>() &&
                    restored.getData<unsigned short, DeskProperty::Port>() == 0 &&
                    directory.getProductionEndpoint().isProduction() &&
                    propertyName(DeskProperty::SIPDebugEnabled) == std::string_view("SIPDebugEnabled");
    std::printf("consumer %s\n", ok ? "ok" : "FAILED");
    return ok ? 0 : 1;
}
