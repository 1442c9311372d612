#pragma once

// True when the program runs with the administrator's rights (root). The browser engine's
// sandbox refuses to start then and has to be told so.
bool RunningAsAdministrator();
