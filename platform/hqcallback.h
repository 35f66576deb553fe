// A callback that receives the object that calls it and a user pointer.
//
//   HqCallback<HqVirusScan> done = [](HqVirusScan *scan, void *user) { ... };
//   if (done) done(scan, user);          // empty until set
#pragma once

#include <functional>

template <class T>
using HqCallback = std::function<void(T *, void *)>;
