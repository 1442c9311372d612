#pragma once

// Whether the computer has a network connection at all, the way the desktop's network service
// sees it; without such a service, whether any interface other than loopback is up and has an
// address.
bool IsNetworkConnected();
