// SPDX-License-Identifier: MIT
// A (type, property) pair the table does not list, and setData of a whole-record row,
// must stop the build. Without SESSIONCONFIG_EXPECT_FAILURE the same calls with the
// listed types compile.
#include <CallFlowRuntimeData.h>
#include <DeskRuntimeData.h>

void probe(DeskRuntimeData& desk, CallFlowRuntimeData& callFlow)
{
#ifdef SESSIONCONFIG_EXPECT_FAILURE
    (void)desk.getData<int, DeskProperty::Host>();
    callFlow.setData<CallFlowConfigurationDTO, CallFlowProperty::CallFlowConfiguration>({});
#else
    (void)desk.getData<QString, DeskProperty::Host>();
    (void)callFlow.getData<CallFlowConfigurationDTO, CallFlowProperty::CallFlowConfiguration>();
#endif
}
