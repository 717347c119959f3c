#pragma once

namespace cli {

// Before the first request that may need authorisation, a run on a terminal
// starts polkit's text agent for this process (pkttyagent), so the password
// question comes on the terminal when no desktop agent answers.
void UseTextAgentOnTerminal();

}  // namespace cli
