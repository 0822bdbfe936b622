// The whole of App saved when made and put back when it ends, so a test may change any field
// without leaving it changed for the next one.
#pragma once
#include "app/base/app_state.h"

class AppScope {
public:
    AppScope() : Saved(App) {}
    ~AppScope() { App = Saved; }
    AppScope(const AppScope&) = delete;
    AppScope& operator=(const AppScope&) = delete;
    const AppState& Before() const { return Saved; }

private:
    AppState Saved;
};
