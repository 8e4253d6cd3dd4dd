#pragma once

// The two halves of every wait of the socket client: a pause of at most a few
// milliseconds, then one pass over the GUI thread's pending events, so the program stays
// responsive while a call "blocks".

// Pauses for `milliseconds`, or less: the pause ends as soon as an event for this thread
// (a socket notification, a posted message, a timer, user input) has arrived and been
// handled. Waiting on the event loop instead of sleeping blindly keeps the 2 ms rhythm of
// the waits without adding 2 ms to every reply and to every 16 KB chunk of a send.
void WaitForEvents(unsigned milliseconds);
void ProcessPendingEvents();
