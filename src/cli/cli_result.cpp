#include "cli/cli_result.h"

#include <cstdio>
#include <sstream>

namespace rompush::cli {

std::string JsonString(const std::string& text) {
    std::string out = "\"";
    for (unsigned char c : text) {
        switch (c) {
            case '"':
                out += "\\\"";
                break;
            case '\\':
                out += "\\\\";
                break;
            case '\n':
                out += "\\n";
                break;
            case '\r':
                out += "\\r";
                break;
            case '\t':
                out += "\\t";
                break;
            default:
                if (c < 0x20 || c == 0x7F) {
                    // Bytes above 127 pass as they are: file paths are UTF-8 here.
                    char escaped[8];
                    std::snprintf(escaped, sizeof escaped, "\\u%04x", c);
                    out += escaped;
                } else {
                    out += static_cast<char>(c);
                }
        }
    }
    return out + "\"";
}

namespace {

// Field escaping of the flat form: backslash and line ends.
std::string Escape(const std::string& text) {
    std::string out;
    for (char c : text) {
        if (c == '\\') {
            out += "\\\\";
        } else if (c == '\n') {
            out += "\\n";
        } else if (c == '\r') {
            out += "\\r";
        } else {
            out += c;
        }
    }
    return out;
}

std::string Unescape(const std::string& text) {
    std::string out;
    for (std::size_t k = 0; k < text.size(); ++k) {
        if (text[k] == '\\' && k + 1 < text.size()) {
            const char next = text[++k];
            out += next == 'n' ? '\n' : next == 'r' ? '\r' : next;
        } else {
            out += text[k];
        }
    }
    return out;
}

struct Field {
    const char* name;
    std::string Result::*text;
};
constexpr Field kFields[] = {{"port", &Result::port},
                             {"port_name", &Result::portName},
                             {"device_path", &Result::devicePath},
                             {"command", &Result::command},
                             {"file", &Result::file},
                             {"device_name", &Result::deviceName},
                             {"device_id", &Result::deviceId},
                             {"device_letter", &Result::deviceLetter},
                             {"revision", &Result::revision},
                             {"bootloader", &Result::bootloader},
                             {"error_text", &Result::errorText},
                             {"status", &Result::status},
                             {"problem", &Result::problem}};

}  // namespace

const char* FailureName(int exitStatus) {
    switch (exitStatus) {
        case kExitOk:
            return "";
        case kExitUsage:
            return "usage";
        case kExitFile:
            return "file";
        case kExitPort:
            return "port";
        case kExitIdentification:
            return "identification";
        case kExitProgram:
            return "erase/program";
        case kExitVerify:
            return "verify";
        default:
            return "other";
    }
}

int ExitStatusOfError(int code, int fallback) {
    if (code >= 1001 && code <= 1012)
        return kExitFile;
    if (code == 1)
        return kExitPort;
    if (code == 1501 || code == 7002 || code == 6001)
        return kExitIdentification;
    if ((code >= 3003 && code <= 3005) || (code >= 4003 && code <= 4006) || code == 8001 ||
        code == 8002 || code == 8003)
        return kExitProgram;
    if (code == 1301 || code == 1302 || code == 1401 || code == 1402)
        return kExitVerify;
    return fallback;
}

std::string Result::Json() const {
    std::ostringstream out;
    char seconds_[32];
    std::snprintf(seconds_, sizeof seconds_, "%.3f", seconds);
    out << "{\"port\":" << JsonString(portName.empty() ? port : portName)
        << ",\"device_path\":" << JsonString(devicePath) << ",\"command\":" << JsonString(command)
        << ",\"file\":" << JsonString(file) << ",\"device\":";
    if (deviceName.empty() && deviceLetter.empty()) {
        out << "null";
    } else {
        out << "{\"name\":" << JsonString(deviceName) << ",\"id\":" << JsonString(deviceId)
            << ",\"letter\":" << JsonString(deviceLetter)
            << ",\"revision\":" << JsonString(revision)
            << ",\"bootloader\":" << JsonString(bootloader) << "}";
    }
    out << ",\"outcome\":" << JsonString(Ok() ? "ok" : "failed")
        << ",\"failure\":" << JsonString(FailureName(exitStatus))
        << ",\"exit_status\":" << exitStatus << ",\"error_code\":" << errorCode
        << ",\"error_text\":" << JsonString(errorText) << ",\"status\":" << JsonString(status)
        << ",\"problem\":" << JsonString(problem) << ",\"seconds\":" << seconds_ << "}";
    return out.str();
}

std::string Result::Serialise() const {
    std::ostringstream out;
    for (const Field& f : kFields)
        out << f.name << "=" << Escape(this->*f.text) << "\n";
    out << "exit_status=" << exitStatus << "\nerror_code=" << errorCode << "\nseconds=" << seconds
        << "\n";
    return out.str();
}

bool Result::Deserialise(const std::string& text, Result& result) {
    std::istringstream in(text);
    std::string line;
    bool complete = false;
    while (std::getline(in, line)) {
        const auto eq = line.find('=');
        if (eq == std::string::npos)
            continue;
        const std::string name = line.substr(0, eq), value = Unescape(line.substr(eq + 1));
        for (const Field& f : kFields) {
            if (name == f.name)
                result.*f.text = value;
        }
        try {
            if (name == "exit_status") {
                result.exitStatus = std::stoi(value);
                complete = true;
            } else if (name == "error_code") {
                result.errorCode = std::stoi(value);
            } else if (name == "seconds") {
                result.seconds = std::stod(value);
            }
        } catch (const std::exception&) {
            return false;
        }
    }
    return complete;
}

std::string SummaryTable(const std::vector<Result>& results) {
    std::string out;
    char line[512];
    std::snprintf(line, sizeof line, "%-14s %-20s %-8s %-15s %6s %8s  %s\n", "PORT", "DEVICE",
                  "RESULT", "FAILURE", "ERROR", "TIME", "STATUS");
    out += line;
    for (const Result& r : results) {
        std::string status = r.Ok() ? r.status : (r.problem.empty() ? r.status : r.problem);
        for (char& c : status) {
            if (c == '\n' || c == '\r')
                c = ' ';
        }
        std::snprintf(line, sizeof line, "%-14s %-20s %-8s %-15s %6d %7.1fs  %s\n",
                      (r.portName.empty() ? r.port : r.portName).c_str(),
                      r.deviceName.empty() ? "-" : r.deviceName.c_str(), r.Ok() ? "ok" : "FAILED",
                      r.Ok() ? "-" : FailureName(r.exitStatus), r.errorCode, r.seconds,
                      status.c_str());
        out += line;
    }
    return out;
}

int OverallExitStatus(const std::vector<Result>& results) {
    int status = kExitOk;
    for (const Result& r : results) {
        if (r.Ok())
            continue;
        if (status == kExitOk) {
            status = r.exitStatus;
        } else if (status != r.exitStatus) {
            return kExitMixed;
        }
    }
    return status;
}

}  // namespace rompush::cli
