// The class compiled as a debug build compiles it, for the debug suite: preconditions asserted,
// the empty-file trace written.
#undef NDEBUG
#include "cmemmap/cxmapfile.cpp"
