// The help page against the program: every error the window can show, in every state that
// changes its text, and every notice of the status line is explained in the help's lists, and
// the help lists no error code the window never shows.
#include <regex>
#include <set>
#include <utility>

#include "program_fixture.h"
#include "ui/notices.h"

namespace rompush::testing {
namespace {

// The page as a reader sees it: tags gone, entities decoded, every run of blanks one blank.
std::string Readable(const std::string& html) {
    std::string text = std::regex_replace(html, std::regex("<[^>]*>"), " ");
    static const std::pair<const char*, const char*> kEntities[] = {
        {"&lt;", "<"}, {"&gt;", ">"}, {"&quot;", "\""}, {"&#39;", "'"}, {"&amp;", "&"}};
    for (const auto& [entity, character] : kEntities)
        text = std::regex_replace(text, std::regex(entity), character);
    return std::regex_replace(text, std::regex("\\s+"), " ");
}

// The pieces of a window text that a reader finds in the help: each of its lines, blanks
// collapsed, without the bytes of an answer or a file's line (empty here).
std::vector<std::string> Pieces(const std::string& text) {
    std::vector<std::string> pieces;
    const std::string flat = std::regex_replace(text, std::regex("\\s*[\r\n]+\\s*"), "\n");
    std::size_t start = 0;
    while (start <= flat.size()) {
        std::size_t end = flat.find('\n', start);
        if (end == std::string::npos)
            end = flat.size();
        const std::string line =
            std::regex_replace(flat.substr(start, end - start), std::regex("\\s+"), " ");
        const auto first = line.find_first_not_of(' ');
        if (first != std::string::npos)
            pieces.push_back(line.substr(first, line.find_last_not_of(' ') - first + 1));
        start = end + 1;
    }
    return pieces;
}

class HelpPageTest : public ProgramTest {
  protected:
    HelpPageTest() {
        const std::string page = ReadFile(std::string(ROMPUSH_SOURCE_DIR) + "/data/help.html.in");
        const auto errors = page.find("id=\"errors\"");
        const auto messages = page.find("id=\"messages\"");
        EXPECT_TRUE(errors != std::string::npos && messages > errors);
        errorSection_ = page.substr(errors, messages - errors);
        errorText_ = Readable(errorSection_);
        messageText_ = Readable(page.substr(messages));
        // The codes in the first cell of each row: "1301, 1401", "4003-4005".
        const std::regex row("<tr><td>([0-9 ,\\-]+)</td>");
        for (std::sregex_iterator it(errorSection_.begin(), errorSection_.end(), row), end;
             it != end; ++it) {
            const std::string cell = (*it)[1];
            const std::regex code("([0-9]{4})(?:-([0-9]{4}))?");
            for (std::sregex_iterator c(cell.begin(), cell.end(), code); c != end; ++c) {
                const int first = std::stoi((*c)[1]);
                const int last = (*c)[2].matched ? std::stoi((*c)[2]) : first;
                for (int n = first; n <= last; ++n)
                    helpCodes_.insert(n);
            }
        }
    }

    // Every code the window shows in the current state is in the help with its text; what is
    // missing is noted once.
    void CheckEveryShownError() {
        for (int code = 1; code <= 9999; ++code) {
            if (!ui::ErrorShown(code))
                continue;
            shownCodes_.insert(code);
            if (!helpCodes_.count(code))
                missing_.insert("error " + std::to_string(code));
            for (const std::string& piece : Pieces(ui::ErrorText(code))) {
                if (errorText_.find(piece) == std::string::npos)
                    missing_.insert("error " + std::to_string(code) + ": \"" + piece + "\"");
            }
        }
    }

    std::string errorSection_, errorText_, messageText_;
    std::set<int> helpCodes_, shownCodes_;
    std::set<std::string> missing_;
};

TEST_F(HelpPageTest, EveryErrorTheWindowShowsIsExplainedAndNoOther) {
    ASSERT_FALSE(helpCodes_.empty());
    // The step that ran and whether PROGRAM had finished change which row and text a code
    // shows; a device pulled out replaces the bytes of its answer.
    const std::uint8_t commands[] = {uicmdNONE,  uicmdSCAN,   uicmdHEXFILE, uicmdLASTUSED,
                                     uicmdERASE, uicmdVERIFY, uicmdPROGRAM};
    for (bool unplugged : {false, true}) {
        if (unplugged) {
            sim.serial.Attach(1, std::make_shared<ScriptedDevice>());
            sim.serial.SetCommPort(1);
            sim.serial.SetPortOpen(true);
            sim.serial.Line(1)->Unplug();
            ASSERT_TRUE(sim.serial.DeviceLost());
        }
        for (const std::uint8_t command : commands) {
            for (bool programmed : {false, true}) {
                g.cmd.CurrentCommand = command;
                g.result.ProgramVerifyOk = programmed;
                CheckEveryShownError();
            }
        }
    }
    EXPECT_TRUE(missing_.empty()) << "not in the help: " << ::testing::PrintToString(missing_);
    for (const int code : helpCodes_)
        EXPECT_TRUE(shownCodes_.count(code))
            << "the help explains error " << code << ", which the window never shows";
}

TEST_F(HelpPageTest, EveryNoticeOfTheStatusLineIsExplained) {
    for (int n = 0; n < static_cast<int>(ui::Notice::Count); ++n) {
        const std::string text = ui::NoticeText(static_cast<ui::Notice>(n));
        ASSERT_FALSE(text.empty()) << "notice " << n;
        EXPECT_NE(messageText_.find(text), std::string::npos) << "\"" << text << "\"";
    }
}

}  // namespace
}  // namespace rompush::testing
