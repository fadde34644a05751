#include "core/SAMessageTarget.h"

SAMessageTarget::~SAMessageTarget() = default;
