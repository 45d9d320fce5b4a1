// Failed allocations, counted per thread. MuPDF leaves an image out when decoding it runs out of
// memory (openjpeg allocates behind MuPDF's back and only reports "failed to decode"), so a page
// can look complete although memory ran out while it was drawn: comparing the count before and
// after tells.
#pragma once

namespace pxraster {

// Allocations on the calling thread that failed for good so far. One that MuPDF retried
// successfully after freeing cached objects is not counted. Always 0 in sanitizer builds, which
// bring their own allocator (and no memory limit applies there).
unsigned long failedAllocations();

} // namespace pxraster
