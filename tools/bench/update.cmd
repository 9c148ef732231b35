@echo off
rem What an integrator might write instead of RemoteUpdater.exe: the same steps with the
rem system's own tools, checking none of them. The names are the updater's, given by the caller.
rem
rem   update.cmd <package> <token> <service> <service program>
rem              <product program> <status key> <status value> "|completed"
net stop "%~3"
taskkill /f /im "%~4"
taskkill /f /im "%~5"
start "" /wait msiexec /i "%~1" /qn REINSTALLMODE=amus LAUNCH_TRAY_APP=N REBOOT=ReallySuppress /norestart /L*V "%~1.log"
net start "%~3"
reg add "HKLM\%~6" /v "%~7" /t REG_SZ /d "%~2%~8" /f
