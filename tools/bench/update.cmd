@echo off
rem What an integrator might write instead of RemoteUpdater.exe: the same steps with the
rem system's own tools, checking none of them.
rem
rem   update.cmd <package> <token>
net stop "Corvanta Remote"
taskkill /f /im CorvantaRemoteService.exe
taskkill /f /im "Corvanta Remote.exe"
start "" /wait msiexec /i "%~1" /qn REINSTALLMODE=amus LAUNCH_TRAY_APP=N REBOOT=ReallySuppress /norestart /L*V "%~1.log"
net start "Corvanta Remote"
reg add HKLM\SOFTWARE\Corvanta\RemoteUpdater /v Status /t REG_SZ /d "%~2|completed" /f
