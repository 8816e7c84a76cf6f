#!/usr/bin/env bash
# Generates the pl_PL.UTF-8 locale when it is missing: Wine takes its ANSI
# code page from the locale it runs in, and the lab's is 1250.
set -euo pipefail
locale -a 2>/dev/null | grep -qixE 'pl_PL\.utf-?8' && exit 0
echo "polish-locale: generating pl_PL.UTF-8"
sudo=""
[ "$(id -u)" -ne 0 ] && sudo="sudo"
$sudo sed -i 's/^# *\(pl_PL\.UTF-8 UTF-8\)/\1/' /etc/locale.gen
grep -q '^pl_PL\.UTF-8 UTF-8' /etc/locale.gen || echo 'pl_PL.UTF-8 UTF-8' | $sudo tee -a /etc/locale.gen >/dev/null
$sudo locale-gen
