# The Wine cases: each case_NAME function writes registry values, runs the
# utility and states what must have happened.  Sourced by run_case.sh.

dir_243=$(printf 'd%.0s' $(seq 243))

# Installation probe: only the three versions, compared in full.
case_version_6_0()    { version REG_SZ 6.0;    directory REG_SZ 'C:\Dict'; run; expect_exit 1; expect_job 'C:\Dict\'; }
case_version_6_0001() { version REG_SZ 6.0001; directory REG_SZ 'C:\Dict'; run; expect_exit 1; expect_job 'C:\Dict\'; }
case_version_6_0002() { version REG_SZ 6.0002; directory REG_SZ 'C:\Dict'; run; expect_exit 1; expect_job 'C:\Dict\'; }
case_version_6_0003() { version REG_SZ 6.0003; directory REG_SZ 'C:\Dict'; run; expect_exit 0; expect_no_job; }
case_version_6_00()   { version REG_SZ 6.00;   directory REG_SZ 'C:\Dict'; run; expect_exit 0; expect_no_job; }
case_version_space()  { version REG_SZ '6.0 '; directory REG_SZ 'C:\Dict'; run; expect_exit 0; expect_no_job; }
case_version_lower_prefix() { version REG_SZ 6; directory REG_SZ 'C:\Dict'; run; expect_exit 0; expect_no_job; }
case_version_over_260_bytes() {
  version REG_SZ "6.0$(printf ' %.0s' $(seq 300))"; directory REG_SZ 'C:\Dict'; run; expect_exit 0; expect_no_job; }

# The value's type is not examined: its bytes are the string.
case_version_multi_sz_first() { version REG_MULTI_SZ '6.0\0junk'; directory REG_SZ 'C:\Dict'; run; expect_exit 1; expect_job 'C:\Dict\'; }
case_version_multi_sz_second() { version REG_MULTI_SZ 'junk\06.0'; directory REG_SZ 'C:\Dict'; run; expect_exit 0; expect_no_job; }
case_version_binary_no_nul() { version REG_BINARY "$(hex 6.0)"; directory REG_SZ 'C:\Dict'; run; expect_exit 1; expect_job 'C:\Dict\'; }
case_version_binary_inner_nul() { version REG_BINARY "$(hex 6.0)00787978"; directory REG_SZ 'C:\Dict'; run; expect_exit 1; expect_job 'C:\Dict\'; }
case_version_dword() { version REG_DWORD 0x00302e36; directory REG_SZ 'C:\Dict'; run; expect_exit 1; expect_job 'C:\Dict\'; }
case_version_empty_binary() { version REG_BINARY ''; directory REG_SZ 'C:\Dict'; run; expect_exit 0; expect_no_job; }

# Missing pieces of the installation.
case_no_install_key() { directory REG_SZ 'C:\Dict'; run; expect_exit 0; expect_no_job; }
case_no_version_value() { empty_key "$install_key"; directory REG_SZ 'C:\Dict'; run; expect_exit 0; expect_no_job; }
case_no_dict_key() { version REG_SZ 6.0; run; expect_exit 0; expect_no_job; }
case_no_dir_value() { version REG_SZ 6.0; empty_key "$dict_key"; run; expect_exit 0; expect_no_job; }
case_values_in_other_view() { other_view; version REG_SZ 6.0; directory REG_SZ 'C:\Dict'; run; expect_exit 0; expect_no_job; }

# The directory and the three paths.
case_dir_with_separator() { version REG_SZ 6.0; directory REG_SZ 'C:\Dict\'; run; expect_exit 1; expect_job 'C:\Dict\'; }
case_dir_forward_slash() { version REG_SZ 6.0; directory REG_SZ 'C:\Dict/'; run; expect_exit 1; expect_job 'C:\Dict/\'; }
case_dir_with_spaces() { version REG_SZ 6.0; directory REG_BINARY "$(hex 'C:\My Dict')00"; run; expect_exit 1; expect_job 'C:\My Dict\'; }
case_dir_expand_sz_unexpanded() { version REG_SZ 6.0; directory REG_EXPAND_SZ '%SystemRoot%\Dict'; run; expect_exit 1; expect_job '%SystemRoot%\Dict\'; }
case_dir_multi_sz_first() { version REG_SZ 6.0; directory REG_MULTI_SZ 'C:\Dict\0D:\Other'; run; expect_exit 1; expect_job 'C:\Dict\'; }
case_dir_binary_no_nul() { version REG_SZ 6.0; directory REG_BINARY "$(hex 'C:\Dict')"; run; expect_exit 1; expect_job 'C:\Dict\'; }
case_dir_dbcs_trail_backslash() {  # Shift-JIS 0x95 0x5C: the last byte is a backslash
  version REG_SZ 6.0; directory REG_BINARY "$(hex 'C:\')955c00"; run; expect_exit 1; expect_job $'C:\\\x95\\'; }
case_dir_empty() { version REG_SZ 6.0; directory REG_BINARY ''; run; expect_exit 0; expect_no_job; }
case_dir_247_bytes_fits() { version REG_SZ 6.0; directory REG_SZ "C:\\$dir_243\\"; run; expect_exit 1; expect_job "C:\\$dir_243\\"; }
case_dir_246_bytes_plus_separator_fits() { version REG_SZ 6.0; directory REG_SZ "C:\\$dir_243"; run; expect_exit 1; expect_job "C:\\$dir_243\\"; }
case_dir_248_bytes_too_long() { version REG_SZ 6.0; directory REG_SZ "C:\\${dir_243}d\\"; run; expect_exit 0; expect_no_job; }
case_dir_247_bytes_plus_separator_too_long() { version REG_SZ 6.0; directory REG_SZ "C:\\${dir_243}d"; run; expect_exit 0; expect_no_job; }
case_dir_fills_260_bytes_no_nul() { version REG_SZ 6.0; directory REG_BINARY "$(hex "C:\\$(printf 'd%.0s' $(seq 257))")"; run; expect_exit 0; expect_no_job; }
case_dir_over_260_bytes() { version REG_SZ 6.0; directory REG_SZ "C:\\$(printf 'd%.0s' $(seq 300))"; run; expect_exit 0; expect_no_job; }

# The library's result is not examined.
case_library_result_ignored() { version REG_SZ 6.0; directory REG_SZ 'C:\Dict'; recorder_result=-7; run; expect_exit 1; expect_job 'C:\Dict\'; }

# The loader binds OrlixDB.dll and its export 12 before the utility runs.
case_library_missing() {
  version REG_SZ 6.0; directory REG_SZ 'C:\Dict'; library=none; run
  [ "$exit_code" != 0 ] && [ "$exit_code" != 1 ] || die "exit code $exit_code without OrlixDB.dll"
}
# Windows' loader refuses an OrlixDB.dll without export 12; Wine starts the
# process and aborts at the call instead, and says so.  Its exit status
# then tells nothing, so the message and the absent job are what count.
case_library_without_export_12() {
  version REG_SZ 6.0; directory REG_SZ 'C:\Dict'; library=without12; run
  grep -q 'unimplemented function OrlixDB.dll.12' "$output" || die "no unimplemented-function abort: $(head -c 300 "$output")"
  expect_no_job
}
