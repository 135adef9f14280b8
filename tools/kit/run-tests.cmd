@echo off
rem Runs every test of the xmp-quarvel test kit and writes report.txt beside this file.
"%~dp0run-tests.exe" %*
set status=%errorlevel%
echo.
echo The report is "%~dp0report.txt". Please send it back with your note.
pause
exit /b %status%
