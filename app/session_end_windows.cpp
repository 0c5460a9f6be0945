#include "session.h"

// Windows asks a program to end through its window's messages, which the toolkit turns into the
// session's end or a close: there is no signal to wait for.
void TSession::EndOnSignals() {}

void TSession::StopEndingOnSignals() {}
