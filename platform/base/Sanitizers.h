// Whether this build runs under the address sanitizer. g++ says so with
// __SANITIZE_ADDRESS__; clang says so only through __has_feature.
#pragma once

#if defined(__SANITIZE_ADDRESS__)
#define TRX_ADDRESS_SANITIZER 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define TRX_ADDRESS_SANITIZER 1
#endif
#endif
#ifndef TRX_ADDRESS_SANITIZER
#define TRX_ADDRESS_SANITIZER 0
#endif
