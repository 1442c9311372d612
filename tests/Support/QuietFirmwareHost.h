#pragma once

#include "DeviceStream.h"

// A firmware host that shows nothing and never waits: for runs that only care about what is
// written (benchmarks, fuzzing).
class TQuietHost : public TFirmwareHost
{
public:
    void ShowInstallingIcon() override {}
    void ShowProgress(double, int) override {}
    void ShowRemainingTime(bool) override {}
    void Wait(int) override {}
};
