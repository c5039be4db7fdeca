// Platform layer: named file-mapping objects, mapped views, process-local named mutexes and the
// allocation granularity.
#pragma once
