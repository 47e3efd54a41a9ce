// A fresh program on the simulated platform, in a temporary program folder.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "core/main_loop.h"
#include "core/state.h"
#include "platform/sim/sim_platform.h"
#include "serial/packets.h"

namespace rompush::testing {

inline std::string MakeTempFolder() {
    std::string pattern = (std::filesystem::temp_directory_path() / "rompush-test-XXXXXX").string();
    std::vector<char> buffer(pattern.begin(), pattern.end());
    buffer.push_back('\0');
    const char* made = mkdtemp(buffer.data());
    return made ? std::string(made) : std::string();
}

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
        std::ofstream out(path, std::ios::binary | std::ios::trunc);
        out << content;
    }
    static std::string ReadFile(const std::string& path) {
        std::ifstream in(path, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }

    // Switches tracing on into a file of the program folder.
    std::string StartTrace() {
        const std::string path = PathIn("trace.txt");
        g.trace.File = std::make_shared<std::ofstream>(path, std::ios::binary | std::ios::trunc);
        g.trace.TraceOn = true;
        return path;
    }
    std::vector<std::string> TraceLines() {
        if (g.trace.File)
            g.trace.File->flush();
        std::vector<std::string> lines;
        std::string content = ReadFile(PathIn("trace.txt"));
        std::size_t start = 0;
        for (std::size_t end; (end = content.find("\r\n", start)) != std::string::npos;
             start = end + 2) {
            lines.push_back(content.substr(start, end - start));
        }
        EXPECT_EQ(start, content.size()) << "every trace line ends with CR LF";
        return lines;
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

}  // namespace rompush::testing
