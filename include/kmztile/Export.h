#pragma once
/**
 * @file Export.h
 * Symbol visibility for the kmztile shared library: only what carries
 * KMZTILE_API is exported; everything else stays internal.
 */
#if defined(_WIN32)
#  if defined(KMZTILE_BUILDING)
#    define KMZTILE_API __declspec(dllexport)
#  else
#    define KMZTILE_API __declspec(dllimport)
#  endif
#else
#  define KMZTILE_API __attribute__((visibility("default")))
#endif
