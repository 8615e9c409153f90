// The version both programs report; a macro, so that it joins other literals.
#pragma once

#define MIVO_VERSION "97"
