#pragma once

// Shows the wait cursor for the lifetime of a scope: the cursor from before comes back when the
// object goes away, also when the scope is left by an exception. Nested guards restore in
// reverse order, so an inner operation cannot end the outer one's wait cursor.
class TCursorControl
{
public:
    TCursorControl();
    ~TCursorControl();
    TCursorControl(const TCursorControl&) = delete;
    TCursorControl& operator=(const TCursorControl&) = delete;
};
