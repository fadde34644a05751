#include "core/PSTaskAsyncLooped.h"

PSTaskAsyncLooped::~PSTaskAsyncLooped() = default;
