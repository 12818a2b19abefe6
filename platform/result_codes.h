// Every layer speaks in result codes: 0 for success, otherwise a Windows
// error code or a record store code. These two the program gives itself.
#pragma once

constexpr int RESULT_REFUSED = 5;       // refused for the servers' roles; the platform's access-denied code
constexpr int RESULT_CANCELLED = 1002;  // the user left a credential prompt
