#include "core/PSTaskAsyncBase.h"

PSTaskAsyncBase::~PSTaskAsyncBase() = default;

void PSTaskAsyncBase::OnRefused() {}
