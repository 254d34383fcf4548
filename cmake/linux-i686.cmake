# The stand-in ODBC driver for 32-bit programs: Debian's i686 cross compiler against the
# i386 multiarch libraries (libsqlite3-dev:i386, unixodbc-dev:i386). Wine's 32-bit
# odbc32 hands the Windows build's calls to the host's 32-bit unixODBC, which can only
# load a 32-bit driver.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR i686)
set(CMAKE_LIBRARY_ARCHITECTURE i386-linux-gnu)

set(CMAKE_C_COMPILER i686-linux-gnu-gcc)
set(CMAKE_CXX_COMPILER i686-linux-gnu-g++)

# pkg-config must see the i386 .pc files, not the host's.
set(ENV{PKG_CONFIG_LIBDIR} /usr/lib/i386-linux-gnu/pkgconfig:/usr/share/pkgconfig)
set(ENV{PKG_CONFIG_PATH} "")
