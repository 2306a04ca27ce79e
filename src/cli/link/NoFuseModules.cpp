// Linked into a static qbox only. libfuse can load file-system modules at run time with
// dlopen, which a static program cannot do safely. qbox never asks for a module (it passes
// libfuse no "modules=" option), so the link routes dlopen here, where every request fails
// as if the module were not found, and the static C library's dlopen is never linked in.
extern "C" void* __wrap_dlopen(const char* /*file*/, int /*mode*/) { return nullptr; }
