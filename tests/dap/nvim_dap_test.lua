-- The nvim-dap set-up (editors/vim/lua/quorvelin_dap.lua) against a stand-in
-- for nvim-dap: the adapter and the configurations it registers are the ones
-- quorvelin-debug --dap takes.  Run headless with editors/vim on the
-- runtimepath; exits 0 when all holds.
local fake = { adapters = {}, configurations = {} }
package.loaded["dap"] = fake
local ok, err = pcall(function()
  require("quorvelin_dap").setup()
  local a = fake.adapters.quorvelin
  assert(a.type == "executable" and a.command == "quorvelin-debug", "adapter from the PATH")
  assert(vim.deep_equal(a.args, { "--dap" }), "started as a debug adapter")
  local configs = fake.configurations.quorvelin
  assert(#configs == 3, "three configurations")
  for _, c in ipairs(configs) do
    assert(c.type == "quorvelin" and c.request == "launch" and c.program == "${file}", c.name)
  end
  assert(type(configs[2].stdinFile) == "function" and configs[3].stopOnEntry == true)
  require("quorvelin_dap").setup({ command = "/opt/qv/bin/quorvelin-debug" })
  assert(fake.adapters.quorvelin.command == "/opt/qv/bin/quorvelin-debug", "the command given")
end)
if not ok then
  io.stderr:write("nvim-dap set-up: " .. tostring(err) .. "\n")
  vim.cmd("cquit 1")
end
vim.cmd("qall!")
