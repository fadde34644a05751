#pragma once
// Keeps the large blocks the display path allocates for every packet (up to
// megabytes each, dozens of times a second) inside the heap once freed,
// instead of handing them back to the system and taking fresh pages for
// the next packet: every fresh page costs a page fault as the socket data is
// copied into it, which at 1080p60 raw was a third of the viewer's CPU.
// The price is that up to TRIM bytes of freed memory stay with the process
// (the update queue holds at most 64 MB of packets, so that is what a busy
// stream keeps anyway). Call once at the start of a program that receives
// frames; a no-op where the C library has no such tuning.
void PSMemoryLargeBlocksKeep();
