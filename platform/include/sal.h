/*
 * Source annotations.  The compilers used here do not analyse them, so every
 * annotation expands to nothing; they exist so that annotated declarations
 * compile unchanged.
 */
#ifndef COMHOST_SAL_H
#define COMHOST_SAL_H

#define _In_
#define _In_opt_
#define _In_z_
#define _In_opt_z_
#define _In_reads_(n)
#define _In_reads_opt_(n)
#define _In_reads_bytes_(n)
#define _In_reads_bytes_opt_(n)
#define _In_count_(n)
#define _In_bytecount_(n)
#define _Out_
#define _Out_opt_
#define _Out_z_cap_(n)
#define _Out_writes_(n)
#define _Out_writes_opt_(n)
#define _Out_writes_z_(n)
#define _Out_writes_to_(n, m)
#define _Out_writes_to_opt_(n, m)
#define _Out_writes_bytes_(n)
#define _Out_writes_bytes_opt_(n)
#define _Out_writes_bytes_to_(n, m)
#define _Out_cap_(n)
#define _Inout_
#define _Inout_opt_
#define _Inout_z_
#define _Inout_updates_(n)
#define _Outptr_
#define _Outptr_opt_
#define _Outptr_result_maybenull_
#define _Outptr_result_z_
#define _Outptr_opt_result_maybenull_
#define _COM_Outptr_
#define _COM_Outptr_opt_
#define _COM_Outptr_result_maybenull_
#define _Deref_out_
#define _Deref_out_opt_
#define _Ret_maybenull_
#define _Ret_notnull_
#define _Ret_z_
#define _Ret_opt_
#define _Check_return_
#define _Must_inspect_result_
#define _Success_(expr)
#define _Post_invalid_
#define _Pre_notnull_
#define _Pre_maybenull_
#define _Post_z_
#define _Frees_ptr_
#define _Frees_ptr_opt_
#define _Reserved_
#define _Null_terminated_
#define _Printf_format_string_
#define _Use_decl_annotations_
#define _Acquires_lock_(x)
#define _Releases_lock_(x)
#define _Requires_lock_held_(x)
#define _When_(expr, annotation)
#define _Field_size_(n)
#define _Field_size_opt_(n)
#define _Field_size_bytes_(n)
#define __RPC__in
#define __RPC__in_opt
#define __RPC__out
#define __RPC__inout
#define __RPC__deref_out_opt

#endif
