#pragma once
// Host classes and functions keep default visibility, so a plug-in built with
// hidden visibility still shares their type information with the host.
#define HOST_API __attribute__((visibility("default")))
