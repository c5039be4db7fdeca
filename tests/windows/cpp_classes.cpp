// A C++ program built with the same mingw-w64 compiler against the installed headers and import
// library: the exported classes work across the DLL (members, copies, strings returned in the
// MinGW C++ ABI). Prints "ok <checks>" and ends with 0 when every check held.
#include <cstdio>
#include <cstring>
#include <string>

#include <qrcore/qrcore.h>

namespace {
int g_nChecks = 0;
int g_nFailed = 0;

void check(bool bHolds, const char* szWhat) {
    ++g_nChecks;
    if (!bHolds) {
        ++g_nFailed;
        std::printf("failed: %s\n", szWhat);
    }
}
}  // namespace

int main() {
    QR_SetNoticeHandler([](QR_NoticeKind, const char*, const char*, void*) { return true; }, nullptr);

    CxFile memory;
    check(memory.CreateMemFile(16), "CxFile::CreateMemFile");
    check(memory.Write("classes", 7) == 7, "CxFile::Write");
    CxFile copy = memory;  // a copy refers to the same buffer
    char szBuffer[8] = {};
    check(copy.SeekToBegin() && copy.Read(szBuffer, 7) == 7 && std::strcmp(szBuffer, "classes") == 0,
          "a copy of a memory file reads its bytes");
    check(memory.Close(), "CxFile::Close");

    CTempFile temp("cls");
    const std::string sName = temp.GetFileName();
    check(!sName.empty() && temp.GetFileSize() == 1024000, "CTempFile with its name as std::string");
    temp.Close();
    check(!IsExistFile(sName.c_str()), "CTempFile::Close deletes the file");

    CxMapFile map;
    check(map.MapMemory(70000, false, false, nullptr) && map.SetView(1, 65536, 100), "CxMapFile views");
    void* pView = map.UseView(1);
    check(pView != nullptr, "CxMapFile::UseView");
    if (pView != nullptr) std::memcpy(pView, "view", 4);
    check(map.GetMappingName().rfind("MappingName", 0) == 0, "CxMapFile::GetMappingName");
    map.UnMap();

    CErrorInfo own;  // a host's own instance, with its own copy of the error list
    own.SetErrorShow(false);
    own = 1000003;
    CErrorInfo copied(own);
    check(copied.GetDllErrorNo() == 1000003 && GetDllErrorNo() == 0, "CErrorInfo copies");

    if (g_nFailed != 0) return 1;
    std::printf("ok %d\n", g_nChecks);
    return 0;
}
