// SPDX-License-Identifier: MIT
// Provisions a desk store, stores it, and reads it back into a second store.
#include <DeskRuntimeData.h>

#include <cstdio>

static void print(const char* title, const DeskRuntimeData& desk)
{
    std::printf("%s: enabled=%d host=%s port=%u tls=%d sipDebug=%d\n", title,
                desk.getData<bool, DeskProperty::Enabled>(),
                qPrintable((desk.getData<QString, DeskProperty::Host>())),
                unsigned(desk.getData<unsigned short, DeskProperty::Port>()),
                desk.getData<bool, DeskProperty::Tls>(), desk.getData<bool, DeskProperty::SIPDebugEnabled>());
}

int main()
{
    DeskRuntimeData provisioned;
    provisioned.setData<bool, DeskProperty::Enabled>(true);
    provisioned.setData<QString, DeskProperty::Host>(QStringLiteral("desk.example.net"));
    provisioned.setData<unsigned short, DeskProperty::Port>(5061);
    provisioned.setData<bool, DeskProperty::Tls>(true);
    print("provisioned", provisioned);

    DeskRuntimeData restored;
    restored.deserializeEncrypted(provisioned.serializeEncrypted());
    restored.deserializeUnencrypted(provisioned.serializeUnencrypted());
    print("restored   ", restored);
    std::printf("only the enabled flag is kept between runs\n");
    return 0;
}
