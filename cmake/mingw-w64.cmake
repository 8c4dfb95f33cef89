# Cross build for 64-bit Windows with Debian's mingw-w64 (posix threads: GoogleTest needs std::mutex).
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(CMAKE_C_COMPILER x86_64-w64-mingw32-gcc-posix)
set(CMAKE_CXX_COMPILER x86_64-w64-mingw32-g++-posix)
set(CMAKE_RC_COMPILER x86_64-w64-mingw32-windres)
set(CMAKE_FIND_ROOT_PATH /usr/x86_64-w64-mingw32)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
# One self-contained executable: no libstdc++, libgcc or winpthread DLLs beside it.
# Hardened: ASLR with 64-bit (high-entropy) addresses and DEP. A static executable needs its
# relocation table kept, or the loader cannot move it and dynamic base means nothing; binutils
# 2.36 and later (Debian 12 has 2.40) do all of this by default, but the flags say it here so
# that a different linker cannot quietly drop it. tests/pe checks the result.
set(CMAKE_EXE_LINKER_FLAGS_INIT
    "-static -Wl,--dynamicbase,--high-entropy-va,--nxcompat,--enable-reloc-section")
