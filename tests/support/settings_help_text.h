// SPDX-License-Identifier: MIT
#pragma once
// The settings help, every line as given, trailing spaces and spelling
// included: the list is what users have always read, slips and all. Each
// front end's output is held against this text, not against the product's
// own table.
#include <string>
#include <vector>

namespace brivelton::testing {

inline const std::vector<std::string> kSettingsHelpText = {
    "Caller ID: ",
    "     Enable analog phone Caller ID function. ",
    "    ",
    "Echo Cancel: ",
    "     Enable acoustic echo cancel function. ",
    "    ",
    "Media Audio: ",
    "     Connected to media audio. When enabled, ",
    "     all media audio will go through analog ",
    "     phone. ",
    "    ",
    "Dialtone after disconnection: ",
    "     Play dialtone when call is disconnected. ",
    "    ",
    "Reverse Tip/Ring after disconnection: ",
    "     Reverse Tip/Ring when call is disconneced. ",
    "     It will stop answer manchine recording ",
    "     after the call is disconnected. ",
    "    ",
    "Strong Ringing Voltage: ",
    "     Higher ringing power for multiple phones. ",
    "    ",
    "LED debug display: ",
    "     Extra debugging LED display mode. ",
    "    ",
    "Dialing Plan: ",
    "     With timeout: Place call after 10 secs ",
    "     of idle time. ",
    "     Without timeout: No time out to place",
    "     the call. ",
    "     # key: Only press # key will place the ",
    "     call. ",
    "    ",
    "Off-Hook Power: ",
    "     Set off-hook power setting. ",
    "     Lower power with better noise reduction. ",
    "    ",
    "Hook Detection Speed: ",
    "     Speed to detect hook status. Slower the ",
    "     speed to avoid false off-hook detection ",
    "     during ringing. ",
};

}  // namespace brivelton::testing
