# Finds BoringSSL's libcrypto as Debian packages it (android-libboringssl-dev:
# headers under include/android/openssl, the library in the multiarch
# folder's android/ subfolder), or under a root the user names.
#
# Hint:   BORINGSSL_ROOT_DIR (CMake or environment variable), searched first.
# Result: BoringSSL_FOUND, BoringSSL::Crypto (imported shared library),
#         BORINGSSL_INCLUDE_DIR, BORINGSSL_CRYPTO_LIBRARY,
#         BORINGSSL_LIBRARY_DIR (for rpaths).
#
# System OpenSSL installs the same header and library names in the default
# folders, so the header is recognised by a file only BoringSSL has, and the
# library is searched for only in BoringSSL's own folders.

set(_boringssl_roots)
foreach(_root IN ITEMS "${BORINGSSL_ROOT_DIR}" "$ENV{BORINGSSL_ROOT_DIR}")
  if(_root)
    list(APPEND _boringssl_roots "${_root}")
  endif()
endforeach()

find_path(BORINGSSL_INCLUDE_DIR openssl/is_boringssl.h
  HINTS ${_boringssl_roots}
  PATH_SUFFIXES include include/android android
  NO_DEFAULT_PATH)
find_path(BORINGSSL_INCLUDE_DIR openssl/is_boringssl.h
  PATHS /usr/include/android /usr/local/include/android)

set(_boringssl_lib_dirs)
foreach(_root IN LISTS _boringssl_roots)
  list(APPEND _boringssl_lib_dirs "${_root}/lib" "${_root}/lib/android"
       "${_root}/lib/${CMAKE_LIBRARY_ARCHITECTURE}/android" "${_root}")
endforeach()
list(APPEND _boringssl_lib_dirs
     "/usr/lib/${CMAKE_LIBRARY_ARCHITECTURE}/android" /usr/lib/android)
find_library(BORINGSSL_CRYPTO_LIBRARY NAMES crypto
  PATHS ${_boringssl_lib_dirs} NO_DEFAULT_PATH)

include(FindPackageHandleStandardArgs)
find_package_handle_standard_args(BoringSSL
  REQUIRED_VARS BORINGSSL_CRYPTO_LIBRARY BORINGSSL_INCLUDE_DIR)

if(BoringSSL_FOUND)
  get_filename_component(BORINGSSL_LIBRARY_DIR "${BORINGSSL_CRYPTO_LIBRARY}"
                         DIRECTORY)
  if(NOT TARGET BoringSSL::Crypto)
    add_library(BoringSSL::Crypto SHARED IMPORTED)
    set_target_properties(BoringSSL::Crypto PROPERTIES
      IMPORTED_LOCATION "${BORINGSSL_CRYPTO_LIBRARY}"
      INTERFACE_INCLUDE_DIRECTORIES "${BORINGSSL_INCLUDE_DIR}")
  endif()
endif()
mark_as_advanced(BORINGSSL_INCLUDE_DIR BORINGSSL_CRYPTO_LIBRARY)
