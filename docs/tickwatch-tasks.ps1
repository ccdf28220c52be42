<#
.SYNOPSIS
Records the clock from every start of Windows: tickwatch and tickwatch-analyze
as scheduled tasks, and the log rotated once a day.

.DESCRIPTION
Run in an administrator's PowerShell, from the unpacked release folder:

    powershell -ExecutionPolicy Bypass -File .\tickwatch-tasks.ps1

It copies the exes for this Windows (x64 or x86) and itself to -ProgramFolder
(C:\Program Files\tickwatch), makes -LogFolder (C:\ProgramData\tickwatch), and
registers three tasks, run as SYSTEM and never ended by Task Scheduler's time
limit:
  tickwatch          at start-up: tickwatch.exe -p -m -o clock.log
  tickwatch-analyze  at start-up: tickwatch-analyze.exe --follow --metrics
                     <MetricsFolder>\tickwatch.prom clock.log
  tickwatch-rotate   daily at 00:00: clock.log renamed clock-YYYY-MM-DD.log
                     (the day it ends), logs older than -KeepDays deleted
It starts the first two at once. Run it again to update: the tasks are
replaced. -Remove ends and removes the three tasks and leaves the files.

.EXAMPLE
powershell -ExecutionPolicy Bypass -File .\tickwatch-tasks.ps1 -KeepDays 90
#>
param(
    [string]$ProgramFolder = "C:\Program Files\tickwatch",
    [string]$LogFolder = "C:\ProgramData\tickwatch",
    [string]$MetricsFolder = "C:\Program Files\windows_exporter\textfile_inputs",
    [int]$KeepDays = 30,
    [switch]$Remove,
    [switch]$Rotate
)
$ErrorActionPreference = "Stop"
$taskNames = @("tickwatch", "tickwatch-analyze", "tickwatch-rotate")

if ($Rotate) {
    # tickwatch opens the log for each line, and the analyzer reads a new
    # file by the name from its start: a rename is all a rotation needs.
    $log = Join-Path $LogFolder "clock.log"
    if (Test-Path -LiteralPath $log) {
        $day = (Get-Date).AddDays(-1).ToString("yyyy-MM-dd")
        Rename-Item -LiteralPath $log -NewName "clock-$day.log"
    }
    $limit = (Get-Date).AddDays(-$KeepDays)
    Get-ChildItem -LiteralPath $LogFolder -Filter "clock-*.log" |
        Where-Object { $_.LastWriteTime -lt $limit } |
        Remove-Item
    exit 0
}

foreach ($name in $taskNames) {
    if (Get-ScheduledTask -TaskName $name -ErrorAction SilentlyContinue) {
        Stop-ScheduledTask -TaskName $name
        Unregister-ScheduledTask -TaskName $name -Confirm:$false
    }
}
if ($Remove) {
    Write-Host "tickwatch's tasks removed; $ProgramFolder and $LogFolder are left as they are."
    exit 0
}

$architecture = if ([Environment]::Is64BitOperatingSystem) { "x64" } else { "x86" }
New-Item -ItemType Directory -Force -Path $ProgramFolder, $LogFolder, $MetricsFolder | Out-Null
foreach ($program in @("tickwatch.exe", "tickwatch-analyze.exe")) {
    Copy-Item -LiteralPath (Join-Path (Join-Path $PSScriptRoot $architecture) $program) -Destination $ProgramFolder
}
if ($PSCommandPath -ne (Join-Path $ProgramFolder "tickwatch-tasks.ps1")) {
    Copy-Item -LiteralPath $PSCommandPath -Destination $ProgramFolder
}

$system = New-ScheduledTaskPrincipal -UserId "SYSTEM" -LogonType ServiceAccount -RunLevel Highest
$forever = New-ScheduledTaskSettingsSet -ExecutionTimeLimit ([TimeSpan]::Zero) -AllowStartIfOnBatteries `
    -DontStopIfGoingOnBatteries -RestartCount 999 -RestartInterval (New-TimeSpan -Minutes 1)
$atStartup = New-ScheduledTaskTrigger -AtStartup
$metrics = Join-Path $MetricsFolder "tickwatch.prom"

Register-ScheduledTask -TaskName "tickwatch" -Trigger $atStartup -Principal $system -Settings $forever `
    -Action (New-ScheduledTaskAction -Execute (Join-Path $ProgramFolder "tickwatch.exe") `
        -Argument "-p -m -o clock.log" -WorkingDirectory $LogFolder) | Out-Null
Register-ScheduledTask -TaskName "tickwatch-analyze" -Trigger $atStartup -Principal $system -Settings $forever `
    -Action (New-ScheduledTaskAction -Execute (Join-Path $ProgramFolder "tickwatch-analyze.exe") `
        -Argument "--follow --metrics `"$metrics`" clock.log" -WorkingDirectory $LogFolder) | Out-Null
$powershell = Join-Path $env:SystemRoot "System32\WindowsPowerShell\v1.0\powershell.exe"
$script = Join-Path $ProgramFolder "tickwatch-tasks.ps1"
Register-ScheduledTask -TaskName "tickwatch-rotate" -Trigger (New-ScheduledTaskTrigger -Daily -At "00:00") `
    -Principal $system `
    -Action (New-ScheduledTaskAction -Execute $powershell -WorkingDirectory $LogFolder `
        -Argument "-NoProfile -ExecutionPolicy Bypass -File `"$script`" -Rotate -LogFolder `"$LogFolder`" -KeepDays $KeepDays") |
    Out-Null

Start-ScheduledTask -TaskName "tickwatch"
Start-ScheduledTask -TaskName "tickwatch-analyze"
Write-Host "tickwatch records into $(Join-Path $LogFolder 'clock.log'), rotated daily, kept $KeepDays days;"
Write-Host "its metrics go to $metrics. -Remove removes the tasks."
