// A fresh program on the simulated platform, in a temporary program folder, and a device for
// tests that answers each packet with a canned reply.
#pragma once

#include <gtest/gtest.h>

#include <deque>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "app/main_loop.h"
#include "core/state.h"
#include "providers/sim/sim_platform.h"
#include "serial/packets.h"
#include "sim/device_host.h"
#include "ui/main_window.h"

namespace rompush::testing {

inline std::string MakeTempFolder() {
    std::string pattern = (std::filesystem::temp_directory_path() / "rompush-test-XXXXXX").string();
    const char* made = mkdtemp(pattern.data());
    return made ? std::string(made) : std::string();
}

inline std::string Bytes(std::initializer_list<int> values) {
    return std::string(values.begin(), values.end());
}

// What the status bar's five panels show.
using Texts = std::vector<std::string>;
inline Texts Panels() {
    Texts texts;
    for (const auto& panel : frmUI().StatusBar1.Panels)
        texts.push_back(panel.Text);
    return texts;
}

// Parameterised cases run by their names.
struct CaseName {
    template <typename Param>
    std::string operator()(const ::testing::TestParamInfo<Param>& param) const {
        return param.param.name;
    }
};

class ProgramTest : public ::testing::Test {
  protected:
    ProgramTest() : folder_(MakeTempFolder()), sim(folder_, folder_) {
        ResetState();
        BuildCrcTable();
        WireMainWindowHandlers();
        sim.desktop.SetTitleSource([] { return frmUI().Caption; });
        sim.clock.SetLimitMs(30 * 60 * 1000);
    }
    ~ProgramTest() override {
        ResetState();
        std::error_code ignored;
        std::filesystem::remove_all(folder_, ignored);
    }

    const std::string& Folder() const { return folder_; }
    std::string PathIn(const std::string& name) const { return folder_ + "/" + name; }

    static void WriteFile(const std::string& path, const std::string& content) {
        std::ofstream(path, std::ios::binary | std::ios::trunc) << content;
    }
    static std::string ReadFile(const std::string& path) {
        std::ifstream in(path, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }

    // Switches tracing on into a file of the program folder.
    void StartTrace() {
        g.trace.File = std::make_shared<std::ofstream>(PathIn("trace.txt"), std::ios::binary);
        g.trace.TraceOn = true;
    }
    std::vector<std::string> TraceLines() {
        if (g.trace.File)
            g.trace.File->flush();
        std::vector<std::string> lines;
        const std::string content = ReadFile(PathIn("trace.txt"));
        std::size_t start = 0;
        for (std::size_t end; (end = content.find("\r\n", start)) != std::string::npos;
             start = end + 2) {
            lines.push_back(content.substr(start, end - start));
        }
        EXPECT_EQ(start, content.size()) << "every trace line ends with CR LF";
        return lines;
    }

    bool TraceHas(const std::string& text) {
        for (const auto& line : TraceLines()) {
            if (line.find(text) != std::string::npos)
                return true;
        }
        return false;
    }
    // The operator's click, and the command loop's pass that runs what it posted.
    void Press(ui::CommandButton& button) {
        ASSERT_TRUE(button.Enabled) << button.Name;
        button.MouseUp();
        CommandLoopPass();
    }

    // Runs command-loop passes until virtual time reaches atMs.
    void RunLoopUntil(std::int64_t atMs) {
        while (sim.clock.NowMs() < atMs)
            CommandLoopPass();
    }

  private:
    std::string folder_;

  protected:
    platform::sim::SimPlatform sim;
};

// A device that answers each complete packet from the PC with the next canned reply, after a
// given delay. It knows nothing of the protocol beyond the length byte.
class ScriptedDevice : public sim::SerialDevice {
  public:
    // Queues a reply to the next packet; "" answers nothing.
    void Reply(const std::string& bytes, std::int64_t delayUs = 2000) {
        replies_.push_back({bytes, delayUs});
    }
    // Sends bytes to the PC now (as a device does on its own).
    void SendNow(const std::string& bytes) { host_->Send(bytes); }
    const std::vector<std::string>& Packets() const { return packets_; }

    void OnHostByte(std::uint8_t byte) override {
        // A packet that stopped half-way (SCAN's "?" probes) is forgotten after a pause.
        if (!current_.empty() && host_->NowUs() - lastByteUs_ > 50'000)
            current_.clear();
        lastByteUs_ = host_->NowUs();
        current_.push_back(static_cast<char>(byte));
        const std::size_t length = static_cast<std::uint8_t>(current_[0]);
        if (current_.size() < length && length >= 1)
            return;
        packets_.push_back(current_);
        current_.clear();
        if (replies_.empty())
            return;
        const auto reply = replies_.front();
        replies_.pop_front();
        if (!reply.first.empty())
            host_->After(reply.second, [this, bytes = reply.first] { host_->Send(bytes); });
    }

  private:
    std::deque<std::pair<std::string, std::int64_t>> replies_;
    std::vector<std::string> packets_;
    std::string current_;
    std::int64_t lastByteUs_ = 0;
};

}  // namespace rompush::testing
