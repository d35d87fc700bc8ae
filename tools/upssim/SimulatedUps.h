// The simulated XCP UPS: reads request frames from the host, answers them
// from its state, moves its values over time and takes control commands
// that change the state or switch faults on.
#pragma once

#include "tools/upssim/SimConfig.h"

#include <array>
#include <cstdint>
#include <deque>
#include <map>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace pvx::upssim {

enum class ETestState : std::uint8_t { None = 0, InProgress = 1, Passed = 2, Aborted = 3, Failed = 4 };

class CSimulatedUps {
public:
    static constexpr std::size_t kInputBufferLimit = 1024;
    static constexpr std::size_t kFrameHistory = 256;
    static constexpr std::size_t kEventRecords = 24;
    static constexpr std::uint64_t kStaleFrameMs = 500;

    explicit CSimulatedUps(SSimConfig config);

    // Every log line (received frames, replies, notes) goes here, one line
    // per call, without a line end.
    void SetLogger(std::function<void(const std::string&)> logger) { m_logger = std::move(logger); }

    // Bytes from the host at monotonic time `nowMs`; reply bytes are appended
    // to `out`.
    void Receive(std::span<const std::uint8_t> bytes, std::uint64_t nowMs, std::vector<std::uint8_t>& out);
    // Called about once a second (and whenever convenient): moves values,
    // runs schedules and tests, drops a stale partial frame.
    void Tick(std::uint64_t nowMs);
    // Milliseconds until Tick has work, at most 1000.
    std::uint32_t MillisecondsToNextTick(std::uint64_t nowMs) const;
    // Stray bytes that are due by `nowMs` while the noise fault is on,
    // appended to `out`: what a long cable or a loose ground puts on the line.
    void TakeNoise(std::uint64_t nowMs, std::vector<std::uint8_t>& out);

    // One control line; returns the reply text (lines, the last "ok" or
    // "error: ..."). `quit` is set by the quit command.
    std::string Control(std::string_view line, std::uint64_t nowMs, bool& quit);

    // Answers one whole request (used by Receive; public for tests).
    std::vector<std::uint8_t> Answer(std::uint8_t command, std::span<const std::uint8_t> data, std::uint64_t nowMs);

    double Value(std::string_view name) const;
    bool IsAlarmActive(int alarm) const;
    ETestState GetTestState() const { return m_test; }
    int GetBaudRate() const { return m_baudRate; }
    const std::deque<std::string>& ReceivedFrames() const { return m_frames; }

    // Data of the blocks, as the host receives them (before framing).
    std::vector<std::uint8_t> IdentificationData() const;
    std::vector<std::uint8_t> MeterData(bool statistics) const;
    std::vector<std::uint8_t> StatusData(std::uint64_t nowMs) const;
    std::vector<std::uint8_t> AlarmData() const;

private:
    void Log(const std::string& line);
    void NoteFrame(std::string line);
    std::vector<std::uint8_t> Command(std::uint8_t command, std::span<const std::uint8_t> data, std::uint64_t nowMs);
    std::vector<std::uint8_t> Block(std::uint8_t command, const std::vector<std::uint8_t>& data) const;
    std::uint8_t CommandStatus(std::uint8_t command, std::span<const std::uint8_t> data, std::uint64_t nowMs);
    bool IsSupported(std::uint8_t command) const;
    std::uint32_t EncodeMeter(const SMeterSlot& slot) const;
    void SetValue(const std::string& name, double value);
    void SetAlarm(int alarm, bool active);
    void SetOnBattery(bool on);
    void SetLowBattery(bool on);
    void StartTest(std::uint64_t nowMs);
    void FinishTest(ETestState result);
    void SetOutput(bool on);
    std::int64_t LocalNow() const;
    double Noise(double amplitude);
    std::uint32_t NextRandom();
    std::vector<std::uint8_t> MakeReply(std::uint8_t number, std::span<const std::uint8_t> data) const;

    std::string ControlSet(const std::vector<std::string_view>& words, std::uint64_t nowMs);
    std::string ControlAlarm(const std::vector<std::string_view>& words);
    std::string ControlTest(const std::vector<std::string_view>& words, std::uint64_t nowMs);
    std::string ControlFault(const std::vector<std::string_view>& words);
    std::string ControlAnswer(const std::vector<std::string_view>& words);
    std::string StatusText() const;

    SSimConfig m_config;
    std::map<std::string, double, std::less<>> m_values;
    std::map<std::string, double, std::less<>> m_jitter;
    std::vector<bool> m_activeAlarms; // indexed by alarm number 0..218
    std::deque<std::array<std::uint8_t, 9>> m_events;
    std::vector<SOutlet> m_outlets;
    std::function<void(const std::string&)> m_logger;

    // Input assembly.
    std::vector<std::uint8_t> m_input;
    std::uint64_t m_lastInputMs = 0;
    std::deque<std::string> m_frames;

    // State.
    bool m_onBattery = false;
    bool m_lowBattery = false;
    bool m_outputOn = true;
    std::string m_source = "normal";
    std::optional<int> m_forcedChargeState;
    ETestState m_test = ETestState::None;
    std::uint64_t m_testEndsMs = 0;
    std::optional<std::uint64_t> m_startupAtMs;
    std::optional<std::uint64_t> m_shutdownAtMs;
    std::uint64_t m_authorizedUntilMs = 0;
    bool m_authorized = false;
    int m_baudRate = 1200;
    std::int64_t m_clockOffsetSeconds = 0;
    std::uint64_t m_lastTickMs = 0;
    std::uint32_t m_random;

    // Faults.
    bool m_silent = false;
    unsigned m_badChecksum = 0;
    unsigned m_badStart = 0;
    unsigned m_busy = 0;
    unsigned m_foreign = 0;
    unsigned m_truncate = 0;
    std::size_t m_split = 0;
    unsigned m_noisePerSecond = 0;
    std::uint64_t m_nextNoiseMs = 0;
};

} // namespace pvx::upssim
