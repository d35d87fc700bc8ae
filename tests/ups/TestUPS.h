// A scripted UPS driver for the model tests: its identification and polls
// are test code, its capabilities are switches, and its actions are logged
// (with the due times they saw) and can be made to fail.
#pragma once

#include "events/PVXException.h"
#include "tests/support/ModelAccess.h"
#include "ups/AbstractUPS.h"

#include <functional>
#include <set>
#include <string>
#include <vector>

namespace pvx::test {

class CTestUPS : public TModelAccess<CAbstractUPS> {
public:
    explicit CTestUPS(CINIFile* configuration = nullptr)
        : TModelAccess(nullptr, configuration)
    {
    }

    int GetUPSType() override { return 99; }
    void Identify() override
    {
        ++identifyCalls;
        if (identify)
            identify(*this);
    }
    void ReadValues() override
    {
        ++readCalls;
        if (readValues)
            readValues(*this);
    }

    bool CanShutdown(int type) override { return shutdownTypes.count(type) != 0; }
    bool CanRunTimedCommand() override { return canTimedCommand; }
    bool CanStartup() override { return canStartup; }
    bool CanReboot() override { return canReboot; }
    bool CanAbortTest() override { return canAbortTest; }
    bool CanGeneralSystemsTest() override { return canGeneralTest; }
    bool CanQuickBatteryTest() override { return canQuickTest; }
    bool CanDeepBatteryCalibration() override { return canDeepCalibration; }
    bool CanCommand95() override { return canCommand95; }
    bool CanOutletCommand2() override { return canOutletCommand2; }
    bool CanOutletCommand1() override { return canOutletCommand1; }
    bool CanOutletOnDelay() override { return canOutletOnDelay; }
    bool CanOutletOffDelay() override { return canOutletOffDelay; }
    void GetOutlets(std::vector<OutletEntry>& list) override { list = outlets; }
    int OutletCommand2(int outlet, int value) override { return Outlet("OutletCommand2", outlet, value); }
    int OutletOffDelay(int outlet, int seconds) override { return Outlet("OutletOffDelay", outlet, seconds); }
    int OutletOnDelay(int outlet, int seconds) override { return Outlet("OutletOnDelay", outlet, seconds); }
    int OutletCommand1(int outlet, int value) override { return Outlet("OutletCommand1", outlet, value); }

    void ApplyShutdownSchedule() override { Act("ApplyShutdownSchedule", m_shutdownDue); }
    void ApplyTimedCommand() override { Act("ApplyTimedCommand", m_timedCommandDue); }
    void ApplyStartupSchedule() override { Act("ApplyStartupSchedule", m_startupDue); }
    void ApplyRebootSchedule() override { Act("ApplyRebootSchedule", m_startupDue); }
    void AbortTest() override { Act("AbortTest", 0); }
    void StartGeneralSystemsTest() override { Act("StartGeneralSystemsTest", 0); }
    void StartBatteryTest(int type, int duration) override
    {
        Act("StartBatteryTest(" + std::to_string(type) + "," + std::to_string(duration) + ")", 0);
    }
    void StartDeepBatteryCalibration() override { Act("StartDeepBatteryCalibration", 0); }

    std::function<void(CTestUPS&)> identify;
    std::function<void(CTestUPS&)> readValues;
    int identifyCalls = 0;
    int readCalls = 0;

    std::set<int> shutdownTypes;
    bool canTimedCommand = false;
    bool canStartup = false;
    bool canReboot = false;
    bool canAbortTest = false;
    bool canGeneralTest = false;
    bool canQuickTest = false;
    bool canDeepCalibration = false;
    bool canCommand95 = false;
    bool canOutletCommand2 = false;
    bool canOutletCommand1 = false;
    bool canOutletOnDelay = false;
    bool canOutletOffDelay = false;
    std::vector<OutletEntry> outlets;
    // What the outlet actions return (0: the default "nothing to report").
    int outletResult = 0;

    // Actions in call order, and the due time each one saw when called.
    std::vector<std::string> actions;
    std::vector<std::int64_t> dueSeen;
    // An action of this name throws EVENT_COMMAND_FAILED (the UPS refused).
    std::string failingAction;

private:
    int Outlet(const std::string& name, int outlet, int value)
    {
        Act(name + "(" + std::to_string(outlet) + "," + std::to_string(value) + ")", 0);
        return outletResult;
    }
    void Act(const std::string& name, std::int64_t due)
    {
        actions.push_back(name);
        dueSeen.push_back(due);
        if (name == failingAction)
            throw CPVXException(EVENT_COMMAND_FAILED);
    }
};

// Reads what a value holds, whatever its kind, as text: numbers in decimal,
// identifiers dotted.
inline std::string ValueText(const CMIBData& value)
{
    switch (value.GetKind()) {
    case MIB_SIGNED:
        return std::to_string(value.GetInteger());
    case MIB_UNSIGNED:
    case MIB_ENUMERATED:
        return std::to_string(value.GetUnsigned());
    case MIB_OID:
        return value.GetOid() ? value.GetOid()->ToString() : "null";
    default:
        return value.GetText();
    }
}

// An identifier from its dotted text, which must start with 1.3.6.1.
inline COid Name(const std::string& dotted)
{
    std::vector<std::uint32_t> arcs;
    std::size_t start = 0;
    int index = 0;
    while (start <= dotted.size()) {
        std::size_t end = dotted.find('.', start);
        if (end == std::string::npos)
            end = dotted.size();
        if (index++ >= 4)
            arcs.push_back(static_cast<std::uint32_t>(std::stoul(dotted.substr(start, end - start))));
        start = end + 1;
    }
    return COid(arcs);
}

// The event code a call throws, or 0 when it returns.
template <typename F> std::uint32_t CodeOf(F&& call)
{
    try {
        call();
    } catch (const CPVXException& e) {
        return e.GetCode();
    }
    return 0;
}

} // namespace pvx::test
