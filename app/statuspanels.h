#pragma once

// The status bar's five panels, left to right, and what each shows.
enum StatusPanel : int {
    LinkPanel = 0,     // the host line: "Waiting", "Host connected", the serial device, "Line lost"
    ActivityPanel = 1, // "SEL" while the machine's activity indicator is on
    AddressPanel = 2,  // the first local IPv4 address and the TCP port
    JobTagPanel = 3,   // the tag of the emboss data decoded last
    SparePanel = 4,    // stays empty
    StatusPanelCount = 5
};
