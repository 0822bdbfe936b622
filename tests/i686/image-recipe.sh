# The guest image: what tests/i686/guest builds and caches, keyed by a hash of this file.
# Sourced by tests/i686/guest (it provides cache, cache_root, key, say, die and boot).

# The Debian mirror that apt already uses on this machine (deb822 .sources files first, then
# one-line lists); nothing when it has none. The image takes its packages from nowhere else.
mirror() {
  local uri
  uri=$(sed -n 's/^URIs:[[:space:]]*//p' /etc/apt/sources.list.d/*.sources 2>/dev/null |
        tr ' ' '\n' | grep -v -- '-security' | grep -m1 /debian || true)
  [ -n "$uri" ] || uri=$(sed 's/\[[^]]*\]//' /etc/apt/sources.list /etc/apt/sources.list.d/*.list 2>/dev/null |
                         awk '$1 == "deb" && $3 == "bookworm" { print $2; exit }' || true)
  [ -n "$uri" ] && echo "$uri"
}

# What runs at boot inside the guest: mount the share given on the kernel command line at
# the same path and run the script named there, then power off.
guest_runner() {
  cat <<'EOF'
#!/bin/bash
arg() { tr ' ' '\n' </proc/cmdline | sed -n "s/^starter\.$1=//p"; }
share=$(arg share) script=$(arg script)
if [ -n "$share" ]; then
  mkdir -p "$share"
  mount -t 9p -o trans=virtio,version=9p2000.L,msize=524288 share "$share" || echo "starter-guest: mount failed"
fi
echo "starter-guest: running $script"
bash "$script"
echo "starter-guest: $script ended with $?"
sync
systemctl poweroff --force --force
EOF
}

guest_prepare() {
  cat <<'EOF'
#!/bin/bash
# The 32-bit Wine prefix, made once into the image.
export WINEARCH=win32 WINEPREFIX=/root/.wine WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
start=$(date +%s)
wineboot -i && wineserver -w
# No window manager runs in the guest: unmanaged windows close without Wine's 2 s wait for one.
wine reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f && wineserver -w
echo "starter-guest: prefix made in $(( $(date +%s) - start )) s"
[ -f /root/.wine/system.reg ] && touch /root/.wine/.starter-ready
EOF
}

build_image() {
  local work=$cache_root/build-$key root image mirror_uri
  mirror_uri=$(mirror) || die "this machine's apt configuration names no Debian bookworm mirror (/etc/apt/sources.list, /etc/apt/sources.list.d/): the guest image takes its packages only from there; add one and run again"
  rm -rf "$work"; mkdir -p "$work"
  root=$work/root image=$work/disk.img
  cleanup_build() { umount "$root/proc" 2>/dev/null || true; }
  trap cleanup_build EXIT
  say "building the image from $mirror_uri (recipe $key)"
  local t0=$SECONDS
  debootstrap --variant=minbase --include=systemd-sysv,udev,kmod,procps bookworm "$root" "$mirror_uri" \
    >"$work/debootstrap.log" 2>&1 || { tail -n 20 "$work/debootstrap.log" >&2; die "debootstrap failed"; }
  say "debootstrap: $((SECONDS - t0)) s"
  mount -t proc proc "$root/proc"
  echo "deb $mirror_uri bookworm main" >"$root/etc/apt/sources.list"
  mkdir -p "$root/etc/initramfs-tools/conf.d"
  # "dep" would size the initramfs for the build host's hardware.
  echo "MODULES=most" >"$root/etc/initramfs-tools/conf.d/starter"
  echo starter-guest >"$root/etc/hostname"
  # Nobody reads documentation or translations in the guest: fewer files to unpack and copy.
  printf '%s\n' 'path-exclude=/usr/share/doc/*' 'path-exclude=/usr/share/man/*' \
    'path-exclude=/usr/share/info/*' 'path-exclude=/usr/share/locale/*' >"$root/etc/dpkg/dpkg.cfg.d/01-starter"
  local inchroot=(chroot "$root" env DEBIAN_FRONTEND=noninteractive LC_ALL=C)
  "${inchroot[@]}" dpkg --add-architecture i386
  # Only 32-bit Wine: wine32 alone satisfies the wine package. The image is written once, so
  # dpkg need not sync each file.
  {
    "${inchroot[@]}" apt-get update -qq &&
    "${inchroot[@]}" apt-get install -y -qq --no-install-recommends -o Dpkg::Options::=--force-unsafe-io \
      linux-image-amd64 initramfs-tools wine wine32:i386 fonts-wine xvfb \
      php-cli php-sqlite3 python3 python3-pyftpdlib &&
    "${inchroot[@]}" apt-get clean
  } >"$work/apt.log" 2>&1 || { tail -n 20 "$work/apt.log" >&2; die "package installation failed"; }
  say "packages: $((SECONDS - t0)) s in all"
  rm -rf "$root"/var/lib/apt/lists/*
  guest_runner >"$root/usr/local/sbin/starter-guest"
  guest_prepare >"$root/usr/local/sbin/starter-prepare"
  chmod +x "$root"/usr/local/sbin/starter-*
  cat >"$root/etc/systemd/system/starter-guest.service" <<'EOF'
[Unit]
Description=Run the script named on the kernel command line, then power off
After=local-fs.target
ConditionKernelCommandLine=starter.script

[Service]
Type=oneshot
ExecStart=/usr/local/sbin/starter-guest
StandardOutput=journal+console
StandardError=journal+console
TimeoutStartSec=infinity

[Install]
WantedBy=multi-user.target
EOF
  chroot "$root" systemctl enable starter-guest.service >/dev/null 2>&1
  # Nothing to log in to: no getty on the console the runs write to.
  chroot "$root" systemctl mask serial-getty@ttyS0.service getty@tty1.service >/dev/null 2>&1
  cp "$(ls "$root"/boot/vmlinuz-* | tail -n1)" "$work/vmlinuz"
  cp "$(ls "$root"/boot/initrd.img-* | tail -n1)" "$work/initrd.img"
  umount "$root/proc"
  truncate -s 6G "$image"
  mkfs.ext4 -q -F -L root -d "$root" "$image"
  rm -rf "$root"
  say "file system: $((SECONDS - t0)) s in all"
  # The prefix is made by booting the image once, writing to it.
  local saved_cache=$cache; cache=$work
  GUEST_CONSOLE=$work/prepare.log boot "$image" 900 off "starter.script=/usr/local/sbin/starter-prepare" ||
    { cache=$saved_cache; tail -n 20 "$work/prepare.log" >&2; die "the prefix boot failed"; }
  cache=$saved_cache
  grep -a "prefix made" "$work/prepare.log" >&2 || true
  debugfs -R "stat /root/.wine/.starter-ready" "$image" >/dev/null 2>&1 ||
    { tail -n 20 "$work/prepare.log" >&2; die "the 32-bit Wine prefix was not made"; }
  say "image built in $((SECONDS - t0)) s"
  trap - EXIT
  rm -rf "$cache"; mv "$work" "$cache"
  # Images of older recipes only take space.
  find "$cache_root" -mindepth 1 -maxdepth 1 -type d ! -name "$key" -exec rm -rf {} +
}

