#pragma once

// The two halves of every wait of the socket client: a short sleep, then one pass over the
// GUI thread's pending events, so the program stays responsive while a call "blocks".
void Sleep(unsigned milliseconds);
void ProcessMessages();
