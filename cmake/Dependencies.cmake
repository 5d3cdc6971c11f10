# The system libraries Kestrun builds on, all from Debian's packages.
find_package(PkgConfig REQUIRED)
find_package(Threads REQUIRED)
find_package(OpenSSL 3 REQUIRED)
find_package(ZLIB REQUIRED)
find_package(SQLite3 REQUIRED)
# The host's HTTP hooks (tools/host_http); the core itself does not link it.
find_package(CURL REQUIRED)

pkg_check_modules(LIBUV REQUIRED IMPORTED_TARGET libuv)
pkg_check_modules(JANSSON REQUIRED IMPORTED_TARGET jansson)
pkg_check_modules(GUMBO REQUIRED IMPORTED_TARGET gumbo)

# Debian's CMake package for LevelDB asks for a static snappy it does not ship; the shared
# library already carries that dependency, so link it directly.
find_library(LEVELDB_LIBRARY leveldb REQUIRED)
find_path(LEVELDB_INCLUDE_DIR leveldb/db.h REQUIRED)
add_library(leveldb::leveldb UNKNOWN IMPORTED)
set_target_properties(leveldb::leveldb PROPERTIES
  IMPORTED_LOCATION "${LEVELDB_LIBRARY}"
  INTERFACE_INCLUDE_DIRECTORIES "${LEVELDB_INCLUDE_DIR}")

find_library(HTTP_PARSER_LIBRARY http_parser REQUIRED)
find_path(HTTP_PARSER_INCLUDE_DIR http_parser.h REQUIRED)
add_library(http_parser::http_parser UNKNOWN IMPORTED)
set_target_properties(http_parser::http_parser PROPERTIES
  IMPORTED_LOCATION "${HTTP_PARSER_LIBRARY}"
  INTERFACE_INCLUDE_DIRECTORIES "${HTTP_PARSER_INCLUDE_DIR}")

if(KESTRUN_BUILD_TESTS)
  find_package(GTest REQUIRED)
endif()
if(KESTRUN_BUILD_BENCH)
  find_package(benchmark REQUIRED)
endif()
