@echo off
rem Runs every test of the xmp-quarvel test kit and writes report.txt beside this file.
"%~dp0run-tests.exe" %*
set status=%errorlevel%
echo.
if %status% neq 2 if exist "%~dp0report.txt" goto report
echo No report was written: see the line above.
goto end
:report
echo The report is "%~dp0report.txt". Please send it back with your note.
:end
pause
exit /b %status%
