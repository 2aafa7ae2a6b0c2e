@echo off
rem Runs every end-to-end test of dbg32 on this Windows, on the dbg32.exe beside this file.
rem Arguments go to the test program, e.g. --gtest_filter=ConsoleE2e.* or --gtest_list_tests.
rem It ends with GoogleTest's summary; the exit status is 0 when every test passed, and is
rem the test program's otherwise (a run with no test fails too).
setlocal
"%~dp0tests\e2e\e2e_tests.exe" %*
set status=%ERRORLEVEL%
if not "%status%"=="0" echo run-tests.cmd: the test run failed, exit status %status%
exit /b %status%
