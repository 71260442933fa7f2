#pragma once

#include <QString>
#include <bitset>
#include <optional>

// What is wrong (or right) with a simulated installation, written as words separated by commas ("ok",
// "no-power", "blocks=1-5,9,noise"). Numbers and ranges after "blocks=" continue its list until the next word.
struct Scenario
{
    bool cable = true;        // no-cable: the БС cable is detached (DSR off)
    bool power = true;        // no-power: the БС has no power (CTS off)
    bool lineBreak = false;   // line-break: the БС–БСУ line is broken, nothing answers
    bool bsuOff = false;      // bsu-off: the БСУ is unpowered, queries come back as echo
    bool noise = false;       // noise: control bytes mixed into the line
    bool late = false;        // late: replies come after the program stopped waiting
    bool unplugged = false;   // unplugged: the port's adapter is gone
    std::bitset<33> blocks;   // blocks=LIST: which blocks 1 to 32 answer (all by default)
    std::bitset<33> flaky;    // flaky=LIST: of those, which answer only every other query (the 1st, 3rd, ...)

    Scenario() { blocks.set(); blocks.reset(0); }

    // Whether "unplugged" may be asked for: a rig on a real port cannot play it.
    enum class Unplugged { Allowed, Refused };
    // Returns nothing and fills *error for an unknown word or a bad block list.
    static std::optional<Scenario> parse(const QString &text, QString *error = nullptr,
                                         Unplugged unplugged = Unplugged::Allowed);
    // The canonical text of this scenario, parse() gives it back.
    QString toString() const;
};
