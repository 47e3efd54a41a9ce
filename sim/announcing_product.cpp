#include "sim/announcing_product.h"

#include <cstdlib>

namespace rompush::sim {

void AnnouncingProduct::OnPowerUp() {
    std::int64_t at = firstBurstUs;
    for (const std::string& burst : bursts) {
        Later(at, [this, burst] { Say(burst); });
        at += gapUs;
    }
}

void AnnouncingProduct::OnKey(char c) {
    if (echo)
        Say(std::string(1, c));
    const auto reply = replies.find(c);
    if (reply != replies.end())
        Say(reply->second);
}

std::string Unescape(const std::string& text) {
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '\\' || i + 1 == text.size()) {
            out += text[i];
            continue;
        }
        const char code = text[++i];
        if (code == 'r') {
            out += '\r';
        } else if (code == 'n') {
            out += '\n';
        } else if (code == 'x' && i + 2 < text.size()) {
            out += static_cast<char>(std::strtol(text.substr(i + 1, 2).c_str(), nullptr, 16));
            i += 2;
        } else {
            out += code;
        }
    }
    return out;
}

std::shared_ptr<SerialMenuProduct> MakeAnnouncer(const std::map<std::string, std::string>& options,
                                                 std::string& error) {
    auto product = std::make_shared<AnnouncingProduct>();
    std::map<std::string, std::string> says;
    for (const auto& [name, value] : options) {
        if (name == "baud" && std::atoi(value.c_str()) > 0) {
            product->SetBaud(std::atoi(value.c_str()));
        } else if (name == "after") {
            product->firstBurstUs = std::atoll(value.c_str()) * 1000;
        } else if (name == "gap") {
            product->gapUs = std::atoll(value.c_str()) * 1000;
        } else if (name == "echo") {
            product->echo = value == "1";
        } else if (name.rfind("reply.", 0) == 0 && Unescape(name.substr(6)).size() == 1) {
            product->replies[Unescape(name.substr(6))[0]] = Unescape(value);
        } else if (name == "say" || (name.size() == 4 && name.rfind("say", 0) == 0 &&
                                     name[3] >= '2' && name[3] <= '9')) {
            says[name == "say" ? "say1" : name] = Unescape(value);
        } else {
            error = "unknown option " + name + " of the announcer";
            return nullptr;
        }
    }
    for (const auto& [name, text] : says)
        product->bursts.push_back(text);
    return product;
}

}  // namespace rompush::sim
