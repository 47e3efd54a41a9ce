// A serial-menu product that only announces itself and answers keys: on power-up it says its
// texts in bursts at its own rate, it answers each key with the reply set for it, and it may
// echo what it hears. Tests of the banner check and the serial console use it, and
// rompush-devsim runs it as "announcer" so that an operator can try them on any text.
//
// Options (rompush-devsim --option, or MakeAnnouncer):
//   baud=N          the product's rate (115200)
//   say=TEXT        the first burst after power-up; say2=...say9= the bursts after it
//   after=MS        from power-up to the first burst (100); gap=MS between bursts (1500)
//   reply.K=TEXT    said when the key K is heard ("reply.?=KCR", "reply.\r=Waiting for file")
//   echo=1          every key heard is sent back
// Texts take the escapes \r, \n, \\ and \xHH.
#pragma once

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "sim/serial_menu_product.h"

namespace rompush::sim {

class AnnouncingProduct : public SerialMenuProduct {
  public:
    explicit AnnouncingProduct(int baud = 115200) : SerialMenuProduct(baud) {}

    std::vector<std::string> bursts;
    std::int64_t firstBurstUs = 100'000;
    std::int64_t gapUs = 1'500'000;
    std::map<char, std::string> replies;
    bool echo = false;

    // Says text now, as the product would on its own.
    void SayNow(const std::string& text) { Say(text); }

  protected:
    void OnPowerUp() override;
    void OnKey(char c) override;
};

// The announcer with its options; nullptr with the reason in `error` for an unknown option.
std::shared_ptr<SerialMenuProduct> MakeAnnouncer(const std::map<std::string, std::string>& options,
                                                 std::string& error);
// Undoes the escapes \r, \n, \\ and \xHH of an option's text.
std::string Unescape(const std::string& text);

}  // namespace rompush::sim
