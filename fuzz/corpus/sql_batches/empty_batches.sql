GO
GO

GO
select 'FLAMINGO'
go
GO
GO
