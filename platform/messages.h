#pragma once

// Window messages the engine posts to the main window (never sent), in the application range.
constexpr int WM_SETLISTVIEW = 33968;
constexpr int WM_SETPROGRESS = 33969;
constexpr int WM_SETENDCONVERT = 33970;
constexpr int WM_SETPROGRESSINLISTVIEW = 33971;
constexpr int WM_TERMAPP = 33976;
constexpr int WM_CREATETEMPLIB = 33977;
