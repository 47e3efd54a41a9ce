// The program-wide state, grouped by the job it does. Every procedure reads and writes it by
// name through the one instance `g`; a test starts from a clean program with ResetState().
#pragma once

#include <array>
#include <cstdint>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "menus/menus_state.h"
#include "ps2/ps2_state.h"
#include "ui/frm_button_map.h"
#include "ui/frm_com_parameters.h"
#include "ui/frm_config_device.h"
#include "ui/frm_help_about.h"
#include "ui/frm_start_cpu.h"
#include "ui/frm_ui.h"

namespace rompush {

// Command codes held in UiCommand. Code 3 is not used.
enum : std::uint8_t {
    uicmdNONE = 0,
    uicmdSCAN = 1,
    uicmdHEXFILE = 2,
    uicmdERASE = 4,
    uicmdVERIFY = 5,
    uicmdPROGRAM = 6,
    uicmdLASTUSED = 7
};

constexpr const char* kProgramName = "RomPush";
constexpr const char* kVersion = " 1.8G";
constexpr const char* kIniSignature = "ROMPUSH_INI_001";
constexpr const char* kIniFileName = "RomPush.INI";
constexpr std::uint8_t kPs2PortNumber = 99;

struct CommandState {
    std::uint8_t UiCommand = 0;
    std::uint8_t CurrentCommand = 0;
    bool MainLoopRunning = false;
    std::string ProductMode = "FALSE";
    bool ContinueFlag = false;
    std::string CopyTarget;
    std::string CfxSetup;
    bool UseWinIo = false;
    std::string HelpFileName;
    int StartupAttempts = 0;  // start-up runs again after an early error
};

struct TraceState {
    bool TraceOn = false;
    std::string TraceIndent;
    std::shared_ptr<std::ofstream> File;  // the trace channel, open until the program ends
    std::string FilePath;
};

struct PortState {
    std::uint8_t CommPortNumber = 0;  // 99 the PS/2 keyboard port, 0 none
    std::uint8_t MaxComPorts = 25;
    std::string HexDir;
    std::string BaudSetting;
    std::uint8_t SavedBaudIndex = 6;
    std::uint8_t SavedDataBitsIndex = 1;
    std::uint8_t SavedFlowIndex = 2;
    std::uint8_t SavedParityIndex = 2;
    std::uint8_t SavedStopBitsIndex = 0;
    // The selected COM port whose device went away: selected again when it comes back.
    std::uint8_t LostPortNumber = 0;
    // Serial devices the last search found but could not open, one line each with the reason.
    std::vector<std::string> UnavailablePorts;
    // What the operator must do to get at a device that refused him ("" when none did), and
    // whether the window has said it on its status line this run.
    std::string RightsHint;
    bool RightsHintShown = false;
};

// What the serial link shares: the receive buffer, the wait flag, the packet buffers.
struct LinkState {
    bool DelayActive = false;
    std::array<std::uint8_t, 51> RcvArray{};  // [0] count, bytes in 1..count
    std::array<std::uint8_t, 41> cmd_string{};
    std::array<std::uint8_t, 41> PayloadBuf{};
    std::uint8_t RspIndex = 0;
    std::array<std::int16_t, 256> CrcTable{};
};

struct DeviceRecord {
    std::uint8_t DevTypeCode = 0;
    std::string DevLetter;
    std::string DevIdName;
    std::string DevDisplayName;
    std::string DevRevPrefix;
    std::string DevRev;
    std::string BslRev;
    bool DeviceFound = false;
};

// The HEX file slots: the selected and the last-used file of each product mode.
struct FileState {
    std::string SelectedFileName, SelectedFilePath;
    std::string LastUsedName, LastUsedPath;
    std::string UsbFileName, UsbFilePath, UsbLastUsedName, UsbLastUsedPath;
    std::string QrxFileName, QrxFilePath, QrxLastUsedName, QrxLastUsedPath;
    std::string CfxFileName, CfxFilePath, CfxLastUsedName, CfxLastUsedPath;
    std::string KvtFileName, KvtFilePath, KvtLastUsedName, KvtLastUsedPath;
    bool HexFileRead = false;  // the last checked file could be read
    // False when a front end was asked to leave the settings file alone (rompush-cli
    // --no-save): a good PROGRAM then records no last-used file.
    bool SaveLastUsed = true;
};

// A data record of a HEX file: its address field and its bytes.
struct HexDataRecord {
    std::uint16_t address = 0;
    std::vector<std::uint8_t> bytes;
};

struct HexState {
    std::vector<std::int16_t> HexData = std::vector<std::int16_t>(32785, 0);
    // The data records of the file last checked, in file order, the header and records
    // without data left out: what a keyboard-port device is sent. Empty after a failed check.
    std::vector<HexDataRecord> DataRecords;
    std::int16_t FileProductCode = 0;
    std::string CurLine;
    // Why the last file check could not convert a file with bare LF line ends ("" when it
    // could, or had no need to); shown instead of the text of a file that cannot be opened.
    std::string ConversionProblem;
};

struct ResultState {
    std::int16_t ErrorCode = 0;
    bool ProgramVerifyOk = false;
    bool ProgramMode = false;
    // The code SCAN ended with before it cleared ErrorCode (0: a device answered), for a front
    // end that reports why nothing was found.
    std::int16_t ScanErrorCode = 0;
};

struct FormState {
    ui::FrmUI frmUI;
    ui::FrmComParameters frmComParameters;
    ui::FrmConfigDevice frmConfigDevice;
    ui::FrmSaveConfig frmSaveConfig;
    ui::FrmHelpAbout frmHelpAbout;
    ui::FrmStartCpu frmStartCpu;
    ui::FrmButtonMap frmButtonMap;
};

struct Globals {
    CommandState cmd;
    TraceState trace;
    PortState port;
    LinkState link;
    DeviceRecord dev;
    FileState files;
    HexState hex;
    ResultState result;
    MenusState menus;
    Ps2State ps2;
    std::unique_ptr<FormState> forms = std::make_unique<FormState>();
};

extern Globals g;

// Back to the state of a program that has just started (fresh windows, tracing off).
void ResetState();

// Shorthands for the two window models.
inline ui::FrmUI& frmUI() {
    return g.forms->frmUI;
}
// The COM parameters dialog; like the window it models, referring to it loads it.
ui::FrmComParameters& frmComParameters();
// The configuration dialog and its notice; referring to one loads it.
ui::FrmConfigDevice& frmConfigDevice();
ui::FrmSaveConfig& frmSaveConfig();
// The about box; referring to it loads it.
ui::FrmHelpAbout& frmHelpAbout();
// The KVT's remap dialog.
inline ui::FrmButtonMap& frmButtonMap() {
    return g.forms->frmButtonMap;
}

}  // namespace rompush
