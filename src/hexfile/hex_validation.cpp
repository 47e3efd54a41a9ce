#include "hexfile/hex_validation.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <filesystem>
#include <string>
#include <system_error>
#include <vector>

#include "core/state.h"
#include "core/text.h"
#include "core/trace.h"
#include "core/wait.h"
#include "core/whole_files.h"
#include "platform/platform.h"
#include "ui/main_window.h"

namespace rompush {

namespace {

const std::string CRLF = "\r\n";

// The largest image a device takes is 32 KB, about 90 KB of HEX text; a file many times that
// size is not a firmware file, and reading it whole would only eat memory.
constexpr std::uintmax_t kLargestHexFile = 16u * 1024u * 1024u;

// "KVT Rev " written as hex digits: the mark of a KVT firmware file.
const std::string kKvtSignature = "4B56542052657620";
// The device letter of a KVT.
constexpr char kKvtLetter = '$';

constexpr int kImageCells = 32785;
// Middle records read between two refreshes of the window.
constexpr int kRecordsPerRefresh = 16;

// The lines of a text file, read as the program reads text: a line ends at CR, LF or CR LF, and
// the end of the file does not add an empty line.
class LineReader {
  public:
    explicit LineReader(std::string content) : content_(std::move(content)) {}
    bool AtEnd() const { return pos_ >= content_.size(); }
    // A file written with bare LF line ends: its first line, read up to the first CR as a
    // DOS text line ends, holds LFs.
    bool HasUnixLineEnds() const {
        const std::size_t lf = content_.find('\n');
        return lf != std::string::npos && lf < content_.find('\r');
    }
    // The next line; "" when the file is at its end.
    std::string Next() {
        if (AtEnd())
            return "";
        const std::size_t end = content_.find_first_of("\r\n", pos_);
        if (end == std::string::npos) {
            std::string line = content_.substr(pos_);
            pos_ = content_.size();
            return line;
        }
        std::string line = content_.substr(pos_, end - pos_);
        pos_ = end + 1;
        if (content_[end] == '\r' && pos_ < content_.size() && content_[pos_] == '\n')
            ++pos_;
        return line;
    }
    void Rewind() { pos_ = 0; }

  private:
    std::string content_;
    std::size_t pos_ = 0;
};

// The two hex digits at 1-based position pos of a line, as a byte; false when the line is too
// short there or the characters are not hex digits.
bool HexByteAt(const std::string& line, std::size_t pos, int& value) {
    if (pos < 1 || pos + 1 > line.size())
        return false;
    const char hi = line[pos - 1];
    const char lo = line[pos];
    if (!std::isxdigit(static_cast<unsigned char>(hi)) ||
        !std::isxdigit(static_cast<unsigned char>(lo)))
        return false;
    value = static_cast<int>(HexToInt(std::string{hi, lo}));
    return true;
}

// Characters pos..pos+length-1 (1-based), as much of them as the line has.
std::string Mid(const std::string& line, std::size_t pos, std::size_t length) {
    if (pos < 1 || pos > line.size())
        return "";
    return line.substr(pos - 1, length);
}

// The data field of a record: from position 10 up to its checksum.
std::string DataField(const std::string& line) {
    return line.size() > 11 ? line.substr(9, line.size() - 11) : "";
}

// Record types of an Intel HEX file.
constexpr int kDataRecord = 0;
constexpr int kEndRecord = 1;
constexpr int kSegmentAddressRecord = 2;
constexpr int kStartSegmentRecord = 3;
constexpr int kLinearAddressRecord = 4;
constexpr int kStartLinearRecord = 5;

// The device letters whose flash PROGRAM writes from the image or the data records: the
// packet-bootloader devices and the keyboard-port devices. Their flash lies below 64 KB.
bool ProgramsFlash(const std::string& letter) {
    return letter.size() == 1 && std::string("DHMLKTVB").find(letter[0]) != std::string::npos;
}

// The first characters of a data record's line, as the error text shows them.
std::string RecordStart(const HexDataRecord& record) {
    char start[16];
    std::snprintf(start, sizeof start, ":%02X%04X%02X%02X",
                  static_cast<unsigned>(record.bytes.size()), static_cast<unsigned>(record.address),
                  static_cast<unsigned>(kDataRecord), static_cast<unsigned>(record.bytes.front()));
    return start;
}

// A record whose fields are hex digits, whose length agrees with its byte count and whose
// bytes add up to 0; nothing is stored.
bool RecordSound(const std::string& line) {
    int count = 0;
    if (line.empty() || line[0] != ':' || !HexByteAt(line, 2, count) ||
        line.size() != 2 * static_cast<std::size_t>(count) + 11)
        return false;
    int sum = 0;
    for (std::size_t pos = 2; pos < line.size(); pos += 2) {
        int byte = 0;
        if (!HexByteAt(line, pos, byte))
            return false;
        sum += byte;
    }
    return (sum & 0xFF) == 0;
}

class HexFileCheck {
  public:
    explicit HexFileCheck(std::string filePath) : path_(std::move(filePath)) {}
    bool Run();

  private:
    void Fail(std::int16_t code) {
        failed_ = true;
        g.result.ErrorCode = code;
        ui::DisplayError();
        if (code == 1007)
            TraceLine("ErrorCode = " + std::to_string(code));
        else
            TraceLine("-- ErrorCode = " + std::to_string(code));
    }
    bool Open(LineReader& reader);
    // The file cannot be read: it is no longer the selected file. A last-used file that has
    // gone leaves the operator's selection alone.
    void Unreadable() {
        Fail(1001);
        if (path_ == g.files.SelectedFilePath)
            g.files.SelectedFileName = "";
        frmUI().ProgressBar1.Visible = false;
    }
    bool CheckHeader(const std::string& first);
    bool StoreRecord(const std::string& line, long& base);
    void StoreMiddleRecords(LineReader& reader, int lineCount);
    // What PROGRAM would send: refused, before any device is touched, when the file holds no
    // data or data the device cannot take.
    void CheckContents();
    void CheckEndRecord(LineReader& reader);
    void CheckKvtSignature(LineReader& reader, const std::string& first);
    void CheckKvtRecords(LineReader& reader, int lineCount);
    // Tells the operator, saves the original and rewrites the file with CR LF line ends.
    bool ConvertChecked();

    std::string path_;
    bool failed_ = false;
    // The first record that is neither data, an end record at the end, nor an address record
    // (a type no HEX tool writes, an end record with lines after it), and the first address
    // record that moves the upper address off 0: no device with its flash below 64 KB can
    // take such a file.
    std::string unusableLine_;
    std::string movedLine_;
};

bool HexFileCheck::Open(LineReader& reader) {
    std::string content;
    if (!ReadWholeFile(path_, content, kLargestHexFile))
        return false;
    reader = LineReader(std::move(content));
    return true;
}

// The first record names the product: byte count 06, data byte 1 = 01, data byte 4 = code.
// False when the file is not a product file (a KVT file is told by its byte count).
bool HexFileCheck::CheckHeader(const std::string& first) {
    int productCode = 0;
    if (Mid(first, 10, 2) != "01" || !HexByteAt(first, 16, productCode)) {
        Fail(1007);
        return false;
    }
    g.hex.FileProductCode = static_cast<std::int16_t>(productCode);
    if (g.dev.DeviceFound) {
        const int letter =
            g.dev.DevLetter.empty() ? 0 : static_cast<unsigned char>(g.dev.DevLetter[0]);
        if (g.hex.FileProductCode != (letter ^ 0x96)) {
            Fail(1002);
            return false;
        }
    }
    return true;
}

// One middle record: a data record's bytes go into HexData relative to base (the address of
// the first record with data) and into the data records; address and start records are
// skipped. Tells whether the record's checksum holds. A record that is short, holds characters
// other than hex digits or claims more bytes than it carries is bad; nothing of it is read
// beyond the line.
bool HexFileCheck::StoreRecord(const std::string& line, long& base) {
    int count = 0, addressHigh = 0, addressLow = 0, type = 0, checksum = 0;
    if (!HexByteAt(line, 2, count) || !HexByteAt(line, 4, addressHigh) ||
        !HexByteAt(line, 6, addressLow) || !HexByteAt(line, 8, type))
        return false;
    const std::size_t checksumPos = 2 * static_cast<std::size_t>(count) + 10;
    if (!HexByteAt(line, checksumPos, checksum))
        return false;
    std::vector<std::uint8_t> bytes(static_cast<std::size_t>(count));
    for (std::size_t j = 0; j < bytes.size(); ++j) {
        int byte = 0;
        if (!HexByteAt(line, 10 + 2 * j, byte))
            return false;
        bytes[j] = static_cast<std::uint8_t>(byte);
    }
    int sum = count + addressHigh + addressLow + type + checksum;
    if (type != kDataRecord) {
        for (std::uint8_t byte : bytes)
            sum += byte;
        if (type == kSegmentAddressRecord || type == kLinearAddressRecord) {
            // What common HEX tools write first: an upper address of 0 changes nothing.
            const bool keepsZero = count == 2 && bytes[0] == 0 && bytes[1] == 0;
            if (!keepsZero && movedLine_.empty())
                movedLine_ = line;
        } else if (type == kEndRecord ||
                   (type != kStartSegmentRecord && type != kStartLinearRecord)) {
            // An end record here would end the data early; other types are no HEX tool's.
            if (unusableLine_.empty())
                unusableLine_ = line;
        }
        return (sum & 0xFF) == 0;
    }
    if (bytes.empty())
        return (sum & 0xFF) == 0;  // a data record without data carries nothing to send
    const long address = addressHigh * 256L + addressLow;
    if (base == 99)
        base = address;
    long index = address - base;
    auto& image = g.hex.HexData;
    for (std::uint8_t byte : bytes) {
        // Data that would land outside the image is not stored and not summed, so such a
        // record fails its checksum.
        if (index >= 0 && index < kImageCells) {
            image[static_cast<std::size_t>(index)] = static_cast<std::int16_t>(byte);
            sum += byte;
        }
        ++index;
    }
    g.hex.DataRecords.push_back({static_cast<std::uint16_t>(address), std::move(bytes)});
    return (sum & 0xFF) == 0;
}

void HexFileCheck::StoreMiddleRecords(LineReader& reader, int lineCount) {
    auto& progress = frmUI().ProgressBar1;
    auto& events = *platform::Current().events;
    progress.Min = 0;
    progress.Max = lineCount;
    long base = 99;
    for (int i = 1; i <= lineCount - 2; ++i) {
        progress.Value = i;
        // The window shows the bar moving while a large file is read; every few records is
        // enough for the eye and keeps a full image well under a second.
        if (i % kRecordsPerRefresh == 0)
            events.DoEvents();
        g.hex.CurLine = reader.Next();
        TraceLine("-- (3) " + g.hex.CurLine);
        if (!StoreRecord(g.hex.CurLine, base))
            Fail(1003);  // reported for this record; the next one is still read
    }
}

void HexFileCheck::CheckContents() {
    // The device the file goes to: the one identified, else the one its product code names.
    const std::string letter =
        g.dev.DeviceFound
            ? g.dev.DevLetter
            : std::string(1, static_cast<char>((g.hex.FileProductCode ^ 0x96) & 0xFF));
    const auto& records = g.hex.DataRecords;
    if (ProgramsFlash(letter) && !unusableLine_.empty()) {
        g.hex.CurLine = unusableLine_;
        Fail(1012);
    } else if (ProgramsFlash(letter) && !movedLine_.empty()) {
        g.hex.CurLine = movedLine_;
        Fail(1011);
    } else if (records.empty()) {
        // Programming it would erase the application and write nothing.
        Fail(1010);
    } else if (const long base = KeyboardPortLoadBase(letter); base >= 0) {
        for (const HexDataRecord& record : records) {
            if (base + record.address + static_cast<long>(record.bytes.size()) >
                kKeyboardPortFlashEnd) {
                g.hex.CurLine = RecordStart(record);
                Fail(1011);
                return;
            }
        }
    }
}

void HexFileCheck::CheckEndRecord(LineReader& reader) {
    g.hex.CurLine = reader.Next();
    const std::string& last = g.hex.CurLine;
    TraceLine("-- (4) " + last);
    if (last.empty() || last[0] != ':') {
        Fail(1004);
    } else if (Mid(last, 2, 2) != "00") {
        Fail(1005);
    } else if (Mid(last, 8, 2) != "01") {
        Fail(1006);
    }
}

// A KVT file has no product header; it carries "KVT Rev " in the data of two consecutive
// records (the text may run across the boundary between them).
void HexFileCheck::CheckKvtSignature(LineReader& reader, const std::string& first) {
    std::string d1 = DataField(first);
    g.hex.CurLine = reader.Next();
    std::string d2 = DataField(g.hex.CurLine);
    while ((d1 + d2).find(kKvtSignature) == std::string::npos && !reader.AtEnd()) {
        d1 = d2;
        g.hex.CurLine = reader.Next();
        d2 = DataField(g.hex.CurLine);
    }
    if (reader.AtEnd()) {
        Fail(1008);
        return;
    }
    // A KVT file is for a KVT only: it has no product code, so the packet-bootloader devices
    // would otherwise take it and be programmed with an image that is not theirs.
    g.hex.FileProductCode = kKvtLetter ^ 0x96;
    if (g.dev.DeviceFound && g.dev.DevLetter != std::string(1, kKvtLetter)) {
        Fail(1002);
    }
}

// The KVT takes its file as text and checks it only once it has erased its application: a
// damaged record would leave it with an application that fails its checksum. So every record
// of a KVT file is checked, as those of any other file, before the file is offered.
void HexFileCheck::CheckKvtRecords(LineReader& reader, int lineCount) {
    reader.Rewind();
    for (int i = 1; i < lineCount; ++i) {
        g.hex.CurLine = reader.Next();
        TraceLine("-- (3) " + g.hex.CurLine);
        if (!RecordSound(g.hex.CurLine))
            Fail(1003);
    }
    CheckEndRecord(reader);
}

bool HexFileCheck::ConvertChecked() {
    const std::string name = FileNameOf(path_);
    const std::string folder = platform::Current().system->ProgramFolder();
    platform::Current().dialogs->MsgBox("'" + name + "' will be converted to DOS format." + CRLF +
                                            CRLF + "( Orginal file will be copied to " + folder +
                                            "/" + name + " )",
                                        platform::mb::kExclamation, kProgramName);
    const bool converted = ConvertToDosFormat(path_);
    Delay(1000);
    return converted;
}

bool HexFileCheck::Run() {
    auto& progress = frmUI().ProgressBar1;
    auto& files = g.files;
    files.HexFileRead = false;
    g.hex.ConversionProblem = "";
    progress.Visible = true;
    Delay(100);
    ui::ShowMsg("Validating Hex File...", ui::colour::kButtonFace);
    Delay(100);

    LineReader reader("");
    if (!Open(reader)) {
        Unreadable();
        return false;
    }
    std::string first;
    // Lines are read with LF ends as well as CR LF ones, so the file is checked as it is and
    // converted only once it has passed: a file that is refused is never changed.
    const bool unixLineEnds = reader.HasUnixLineEnds();
    files.HexFileRead = true;
    // Cells the file does not cover hold the erased value, never bytes of an earlier file,
    // whatever kind of file this is.
    std::fill(g.hex.HexData.begin(), g.hex.HexData.end(), static_cast<std::int16_t>(0xFF));
    g.hex.DataRecords.clear();

    int lineCount = 1;
    reader.Next();
    while (!reader.AtEnd()) {
        TraceLine("-- (1) " + reader.Next());
        ++lineCount;
    }
    reader.Rewind();
    first = reader.Next();
    g.hex.CurLine = first;
    TraceLine("-- (2) " + first);

    if (first.empty() || first[0] != ':') {
        Fail(1009);
    } else if (Mid(first, 2, 2) != "06") {
        CheckKvtSignature(reader, first);
        if (!failed_)
            CheckKvtRecords(reader, lineCount);
        if (!failed_) {
            g.files.KvtFileName = g.files.SelectedFileName;
            g.files.KvtFilePath = g.files.SelectedFilePath;
        }
    } else if (CheckHeader(first)) {
        StoreMiddleRecords(reader, lineCount);
        CheckEndRecord(reader);
        if (!failed_)
            CheckContents();
    }

    if (!failed_ && unixLineEnds && !ConvertChecked()) {
        files.HexFileRead = false;
        Unreadable();
        return false;
    }

    progress.Value = 0;
    if (failed_)
        g.hex.DataRecords.clear();  // nothing of a refused file is ever sent
    bool valid = false;
    if (!failed_) {
        g.result.ErrorCode = 0;
        ui::ShowMsg("", ui::colour::kButtonFace);
        valid = true;
    }
    progress.Visible = false;
    return valid;
}

}  // namespace

long HexToInt(const std::string& text) {
    long value = 0;
    long weight = 1;
    for (auto it = text.rbegin(); it != text.rend(); ++it) {
        const int code = std::toupper(static_cast<unsigned char>(*it));
        const int digit = code >= 65 ? code - 55 : code - 48;
        value += digit * weight;
        if (weight > 0x1000000L)
            break;  // more digits than any field of a HEX line has; the value stays bounded
        weight *= 16;
    }
    return value;
}

long KeyboardPortLoadBase(const std::string& letter) {
    if (letter == "K")
        return 0x4000;
    if (letter == "T" || letter == "V" || letter == "B")
        return 0x2000;
    return -1;
}

bool ValidateHexFile(const std::string& fileName, const std::string& filePath) {
    TraceScope trace("ValidateHexFile()");
    auto& button = frmUI().btnHEXFILE;
    g.hex.ConversionProblem = "";
    g.hex.DataRecords.clear();
    if (fileName.empty()) {
        button.Caption = "SELECT HEX FILE";
        return false;
    }
    button.Caption = fileName;
    return CkHexFile(filePath);
}

bool CkHexFile(const std::string& filePath) {
    TraceScope trace("CkHexFile( " + filePath + " )");
    return HexFileCheck(filePath).Run();
}

bool ConvertToDosFormat(const std::string& filePath) {
    namespace fs = std::filesystem;
    const std::string name = FileNameOf(filePath);
    std::string content;
    if (name.empty() || !ReadWholeFile(filePath, content, kLargestHexFile))
        return false;

    // The file as it was is kept in the program folder before the file itself is touched.
    const std::string folder = platform::Current().system->ProgramFolder();
    std::string backup = folder + "/" + name;
    std::error_code error;
    if (fs::exists(backup, error) && fs::equivalent(backup, filePath, error))
        backup += ".orig";  // the file lives in the program folder: keep it beside itself
    if (!WriteAndCheck(backup, content)) {
        g.hex.ConversionProblem = "The original file cannot be copied to " + folder + ", so '" +
                                  name +
                                  "' was not converted.  Check that the folder can be written to.";
        return false;
    }

    std::string converted;
    converted.reserve(content.size() + content.size() / 32);
    for (std::size_t i = 0; i < content.size(); ++i) {
        if (content[i] == '\n' && (i == 0 || content[i - 1] != '\r'))
            converted += '\r';
        converted += content[i];
    }

    // The new text replaces the file in one step, so the operator's file is never left half
    // written.
    if (ReplaceFile(filePath, converted, ".rompush-new") != Replaced::Done) {
        g.hex.ConversionProblem = "'" + name +
                                  "' cannot be converted to DOS format.  Check that its folder "
                                  "can be written to.";
        return false;
    }
    return true;
}

bool CkForNonFlashFW() {
    TraceScope trace("CkForNonFlashFW()");
    const std::string& fileName = g.files.SelectedFileName;
    const std::string base =
        fileName.size() > 4 ? fileName.substr(0, fileName.size() - 4) : std::string();
    if (base.empty() || base.back() != 'N')
        return true;
    const bool digitBefore =
        base.size() >= 2 && std::isdigit(static_cast<unsigned char>(base[base.size() - 2]));
    if (digitBefore)
        return true;
    const std::string text =
        "               WARNING! " + CRLF + CRLF + base + " is non-flashable firmware. " + CRLF +
        "If you continue, the Tarn device will " + CRLF + "be programmed with " + base + " and " +
        CRLF + "cannot be reprogrammed.  No changes " + CRLF +
        "to the firmware will then be possible." + CRLF + CRLF + "CONTINUE WITH PROGRAMMING?";
    const int answer =
        platform::Current().dialogs->MsgBox(text, platform::mb::kYesNo | platform::mb::kExclamation,
                                            std::string(kProgramName) + " Utility");
    if (answer != platform::mb::kAnswerYes) {
        ui::ButtonEnabler();
        return false;
    }
    return true;
}

}  // namespace rompush
