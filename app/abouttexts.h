#pragma once

// What the "Info" action's About box says about the simulator.

#include <QString>

inline QString aboutCopyright()
{
    return QStringLiteral("Corvane Embosser Simulator\r"
                          "\u00A9 2024 Corvane Systems GmbH\r"
                          "All rights reserved.\r"
                          "\r"
                          "Sales and support:\r"
                          "Corvane Systems GmbH\r"
                          "Industriestra\u00DFe 12\r"
                          "12345 Musterstadt\r"
                          "Phone +49 30 5550 1234");
}

inline QString aboutUrl()
{
    return QStringLiteral("https://support.corvane.example/");
}

inline QString aboutWarning()
{
    return QStringLiteral("Warning\r"
                          "This program is protected by copyright law.\r"
                          "Copying or passing it on without permission is prohibited.");
}
